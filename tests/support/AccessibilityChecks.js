// Checks over an accessibility tree as rig.accessibleTree() / a11y.tree() return it (see
// AccessibleTree.h), shared by the QML accessibility tests.
.pragma library

// The roles a user acts on: each of them must carry a name.
var interactiveRoles = ["Button", "CheckBox", "RadioButton", "PageTab", "Slider", "EditableText", "ComboBox",
                        "SpinBox", "Dial", "ButtonMenu", "ButtonDropDown", "MenuItem", "Link", "ScrollBar"]

function describe(node) {
    return (node.objectName || "(no object name)") + " [" + node.role + " \"" + node.name + "\"]"
}

// The nodes a reader finds showing.
function showing(nodes) {
    return nodes.filter(function(n) { return !n.invisible })
}

// The expectation for `node`: the first of `table` ({ pattern, role, checkable }) whose pattern
// matches its object name, else a push button.
function expectationFor(table, node) {
    for (var i = 0; i < table.length; ++i)
        if (table[i].pattern.test(node.objectName)) return table[i]
    return { role: "Button", checkable: false }
}

// What is wrong with the showing controls of `nodes` (unnamed, a wrong role, not checkable, a
// slider without a value), one line each; `counted.controls` receives how many were checked.
function controlFaults(nodes, table, counted) {
    var faults = []
    var controls = 0
    var list = showing(nodes)
    for (var i = 0; i < list.length; ++i) {
        var node = list[i]
        var interactive = node.focusable || interactiveRoles.indexOf(node.role) >= 0
        if (!interactive) continue
        ++controls
        if (node.name.trim() === "") faults.push("unnamed: " + describe(node))
        var wanted = expectationFor(table, node)
        if (node.role !== wanted.role) faults.push("role " + node.role + ", not " + wanted.role + ": " + describe(node))
        if (wanted.checkable && !node.checkable) faults.push("not checkable: " + describe(node))
        if (wanted.role === "Slider" && !node.hasValue) faults.push("no value: " + describe(node))
    }
    if (counted) counted.controls = controls
    return faults
}

// The controls Tab stops at, in the reader's order.
function tabStops(nodes) {
    return showing(nodes).filter(function(n) {
        return n.object && n.object.activeFocusOnTab === true && n.object.enabled && !n.disabled
    })
}
