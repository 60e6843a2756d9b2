import QtQuick
import QtTest
import Vantry.Game
import Vantry.GameNative

Item {
    id: top
    width: 400
    height: 200

    TestCase {
        id: testCase
        name: "KillToast"
        when: windowShown

        Component { id: toastComponent; OruStreamerViralKillToastV1250 {} }

        function test_emptyCalloutDrawsNothing_data() {
            return [ { tag: "undefined", callout: undefined }, { tag: "null", callout: null },
                     { tag: "empty", callout: "" } ]
        }

        function test_emptyCalloutDrawsNothing(data) {
            const toast = createTemporaryObject(toastComponent, top,
                                                { callout: data.callout, clipBookmarked: true })
            verify(!toast.shown)
            compare(toast.capsule.visible, false)
            compare(toast.implicitWidth, 0)
            compare(toast.implicitHeight, 0)
        }

        function test_looks_data() {
            return [
                { tag: "plain", bookmarked: false, symbol: "scope", tint: GamePalette.cyan },
                { tag: "bookmarked clip", bookmarked: true, symbol: "flame.fill", tint: GamePalette.orange },
            ]
        }

        function test_looks(data) {
            const toast = createTemporaryObject(toastComponent, top,
                                                { callout: "TRIPLE KILL", clipBookmarked: data.bookmarked })
            tryCompare(toast.capsule, "opacity", 1)
            tryCompare(toast.capsule, "scale", 1)
            const symbol = findChild(toast, "toastSymbol")
            compare(symbol.symbol, data.symbol)
            compare(symbol.text, GameUi.icon(data.symbol))
            verify(Qt.colorEqual(symbol.color, data.tint))
            compare(findChild(toast, "toastCallout").text, "TRIPLE KILL")
            compare(findChild(toast, "clipReadyTag").visible, data.bookmarked)
            verify(Qt.colorEqual(findChild(toast, "toastBorder").border.color, GamePalette.withOpacity(data.tint, 0.65)))
            verify(toast.implicitWidth > 0)
        }

        function test_entersAndLeavesScalingAndFading() {
            const toast = createTemporaryObject(toastComponent, top, { callout: null })
            compare(toast.capsule.scale, 0.88)
            toast.clipBookmarked = true
            toast.callout = "TRIPLE KILL"
            verify(toast.capsule.opacity < 1)
            tryCompare(toast.capsule, "opacity", 1)
            tryCompare(toast.capsule, "scale", 1)
            toast.callout = ""
            // Leaving keeps its text and look while it shrinks and fades.
            compare(findChild(toast, "toastCallout").text, "TRIPLE KILL")
            compare(findChild(toast, "clipReadyTag").visible, true)
            tryCompare(toast.capsule, "visible", false)
            compare(toast.capsule.scale, 0.88)
        }
    }
}
