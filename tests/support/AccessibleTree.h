// A window's accessibility tree as a screen reader's bridge reads it (Qt's accessible
// interfaces, child by child from the window down), and the accessibility events the
// window sends, for tests of names, roles, states and live regions.
#pragma once

#include <QAccessible>
#include <QAccessibleInterface>
#include <QAccessibleValueInterface>
#include <QMetaEnum>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <QWindow>
#include <vector>

namespace vantry::testing {

struct AccessibleNode {
    QPointer<QObject> object;
    QAccessible::Role role = QAccessible::NoRole;
    QString name;
    QString description;
    // What the reader reads as the content (a field's text).
    QString valueText;
    QAccessible::State state;
    bool hasValue = false;
    double value = 0;
    int depth = 0;
};

// The role's name as QAccessible spells it ("Button", "CheckBox", ...).
inline QString accessibleRoleName(QAccessible::Role role) {
    const QMetaEnum roles = QMetaEnum::fromType<QAccessible::Role>();
    const char* key = roles.valueToKey(int(role));
    return key ? QString::fromLatin1(key) : QString::number(int(role), 16);
}

inline void collectAccessible(QAccessibleInterface* iface, int depth, std::vector<AccessibleNode>& out) {
    if (!iface || !iface->isValid()) return;
    AccessibleNode node;
    node.object = iface->object();
    node.role = iface->role();
    node.name = iface->text(QAccessible::Name);
    node.description = iface->text(QAccessible::Description);
    node.valueText = iface->text(QAccessible::Value);
    if (QAccessibleTextInterface* text = iface->textInterface())
        node.valueText = text->text(0, text->characterCount());
    node.state = iface->state();
    if (QAccessibleValueInterface* value = iface->valueInterface()) {
        node.hasValue = true;
        node.value = value->currentValue().toDouble();
    }
    node.depth = depth;
    out.push_back(node);
    for (int i = 0; i < iface->childCount(); ++i) collectAccessible(iface->child(i), depth + 1, out);
}

// Every node under `window`, the window first, in the order a reader walks them.
inline std::vector<AccessibleNode> accessibleTree(QWindow* window) {
    std::vector<AccessibleNode> nodes;
    collectAccessible(QAccessible::queryAccessibleInterface(window), 0, nodes);
    return nodes;
}

// The same nodes as maps for QML tests: object, role (its name), name, description, valueText, depth,
// checkable, checked, focusable, focused, invisible, offscreen, disabled, passwordEdit,
// hasValue, value.
inline QVariantList accessibleTreeForQml(QWindow* window) {
    QVariantList list;
    for (const AccessibleNode& node : accessibleTree(window)) {
        QVariantMap map;
        map.insert(QStringLiteral("object"), QVariant::fromValue(node.object.data()));
        map.insert(QStringLiteral("objectName"), node.object ? node.object->objectName() : QString());
        map.insert(QStringLiteral("role"), accessibleRoleName(node.role));
        map.insert(QStringLiteral("name"), node.name);
        map.insert(QStringLiteral("description"), node.description);
        map.insert(QStringLiteral("valueText"), node.valueText);
        map.insert(QStringLiteral("depth"), node.depth);
        map.insert(QStringLiteral("checkable"), bool(node.state.checkable));
        map.insert(QStringLiteral("checked"), bool(node.state.checked));
        map.insert(QStringLiteral("focusable"), bool(node.state.focusable));
        map.insert(QStringLiteral("focused"), bool(node.state.focused));
        map.insert(QStringLiteral("invisible"), bool(node.state.invisible));
        map.insert(QStringLiteral("offscreen"), bool(node.state.offscreen));
        map.insert(QStringLiteral("disabled"), bool(node.state.disabled));
        map.insert(QStringLiteral("passwordEdit"), bool(node.state.passwordEdit));
        map.insert(QStringLiteral("hasValue"), node.hasValue);
        map.insert(QStringLiteral("value"), node.value);
        list.push_back(map);
    }
    return list;
}

// Records the name changes the process announces (QAccessibleEvent NameChanged), with the
// object's role and its name at that moment, while it lives. One at a time.
class AccessibleNameChanges {
  public:
    struct Change {
        QPointer<QObject> object;
        QString role;
        QString name;
    };

    AccessibleNameChanges() {
        current() = this;
        previous_ = QAccessible::installUpdateHandler(&AccessibleNameChanges::handle);
    }
    ~AccessibleNameChanges() {
        QAccessible::installUpdateHandler(previous_);
        current() = nullptr;
    }
    AccessibleNameChanges(const AccessibleNameChanges&) = delete;
    AccessibleNameChanges& operator=(const AccessibleNameChanges&) = delete;

    const std::vector<Change>& changes() const { return changes_; }
    void clear() { changes_.clear(); }

    // The names announced by `object`, in order.
    QStringList namesOf(const QObject* object) const {
        QStringList names;
        for (const Change& change : changes_)
            if (change.object == object) names.push_back(change.name);
        return names;
    }

  private:
    static AccessibleNameChanges*& current() {
        static AccessibleNameChanges* recorder = nullptr;
        return recorder;
    }
    static void handle(QAccessibleEvent* event) {
        AccessibleNameChanges* self = current();
        if (!self || event->type() != QAccessible::NameChanged) return;
        Change change;
        change.object = event->object();
        if (QAccessibleInterface* iface = event->accessibleInterface()) {
            change.role = accessibleRoleName(iface->role());
            change.name = iface->text(QAccessible::Name);
        }
        self->changes_.push_back(change);
    }

    QAccessible::UpdateHandler previous_ = nullptr;
    std::vector<Change> changes_;
};

}  // namespace vantry::testing
