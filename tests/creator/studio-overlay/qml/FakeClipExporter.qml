import QtQuick

// A clip exporter whose exports end when the test says so.
QtObject {
    property var requests: []
    signal finished(bool saved)
    function start(gameTitle, highlightHeadline, statBadge) {
        requests = requests.concat([[gameTitle, highlightHeadline, statBadge]])
    }
}
