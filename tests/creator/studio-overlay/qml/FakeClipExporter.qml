import QtQuick

// A clip exporter whose exports end when the test says so (finish).
QtObject {
    property var requests: []
    property int running: 0
    signal finished(bool saved, string outputPath)
    function start(gameTitle, highlightHeadline, statBadge) {
        requests = requests.concat([[gameTitle, highlightHeadline, statBadge]])
        running += 1
    }
    function finish(saved, outputPath) {
        running -= 1
        finished(saved, outputPath)
    }
}
