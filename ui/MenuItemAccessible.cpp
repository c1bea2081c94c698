#include "ui/MenuItemAccessible.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleInterface>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStyle>

namespace lyravox::ui {
namespace {

// The menu or menu bar that shows `action`.
QWidget* menuShowing(QAction* action) {
    for (QObject* object : action->associatedObjects()) {
        auto* widget = qobject_cast<QWidget*>(object);
        if ((qobject_cast<QMenu*>(widget) != nullptr ||
             qobject_cast<QMenuBar*>(widget) != nullptr) &&
            widget->actions().contains(action)) {
            return widget;
        }
    }
    return nullptr;
}

// "E&xit" → "Exit"; "&&" stays one ampersand.
QString withoutMnemonic(const QString& text) {
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
        }
        plain += text[i];
    }
    return plain;
}

class MenuItem final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    MenuItem(QAction* action, QWidget* owner) : action_(action), owner_(owner) {}

    bool isValid() const override { return !action_.isNull() && !owner_.isNull(); }
    QObject* object() const override { return action_; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(owner_);
    }
    int childCount() const override { return action_->menu() != nullptr ? 1 : 0; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 && action_->menu() != nullptr
                       ? QAccessible::queryAccessibleInterface(action_->menu())
                       : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && action_->menu() != nullptr && child->object() == action_->menu()
                       ? 0
                       : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAccessibleInterface* submenu = child(0);
        return submenu != nullptr && submenu->rect().contains(x, y) ? submenu : nullptr;
    }
    QAccessibleInterface* focusChild() const override { return nullptr; }

    QString text(QAccessible::Text type) const override {
        switch (type) {
            case QAccessible::Name:
                return withoutMnemonic(action_->text());
            case QAccessible::Description:
                return action_->statusTip();
            case QAccessible::Accelerator:
                return action_->shortcut().toString(QKeySequence::NativeText);
            default:
                return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        QRect area;
        if (auto* bar = qobject_cast<QMenuBar*>(owner_)) {
            area = bar->actionGeometry(action_);
        } else if (auto* menu = qobject_cast<QMenu*>(owner_)) {
            area = menu->actionGeometry(action_);
        }
        return area.translated(owner_->mapToGlobal(QPoint(0, 0)));
    }

    QAccessible::Role role() const override {
        return action_->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        state.invisible = !owner_->isVisible() || !action_->isVisible();
        if (auto* bar = qobject_cast<QMenuBar*>(owner_)) {
            state.focused = bar->activeAction() == action_;
        } else if (auto* menu = qobject_cast<QMenu*>(owner_)) {
            state.focused = menu->activeAction() == action_;
        }
        state.hotTracked = owner_->style()->styleHint(QStyle::SH_Menu_MouseTracking) != 0;
        state.disabled = action_->isSeparator() || !action_->isEnabled();
        state.checked = action_->isChecked();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override {
        if (action_->isSeparator()) {
            return {};
        }
        return {action_->menu() != nullptr ? showMenuAction() : pressAction()};
    }

    void doAction(const QString& actionName) override {
        if (!action_->isEnabled()) {
            return;
        }
        if (actionName == pressAction()) {
            // Queued: what the entry starts (the about window's modal loop, the rests of a
            // running loop) must not run inside the assistive technology's request.
            QMetaObject::invokeMethod(action_, &QAction::trigger, Qt::QueuedConnection);
        } else if (actionName == showMenuAction() && action_->menu() != nullptr) {
            if (action_->menu()->isVisible()) {
                action_->menu()->hide();
            } else if (auto* bar = qobject_cast<QMenuBar*>(owner_)) {
                bar->setActiveAction(action_);
            } else if (auto* menu = qobject_cast<QMenu*>(owner_)) {
                menu->setActiveAction(action_);
            }
        }
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QAction> action_;
    QPointer<QWidget> owner_;
};

}  // namespace

QAccessibleInterface* menuItemAccessible(const QString&, QObject* object) {
    auto* action = qobject_cast<QAction*>(object);
    if (action == nullptr) {
        return nullptr;
    }
    QWidget* owner = menuShowing(action);
    return owner != nullptr ? new MenuItem(action, owner) : nullptr;
}

}  // namespace lyravox::ui
