#include "ui/OptionButtonAccessible.h"

#include <QAccessibleWidget>
#include <QGroupBox>
#include <QKeySequence>
#include <QRadioButton>
#include <QString>
#include <QStringList>

namespace lyravox::ui {
namespace {

class OptionAccessible final : public QAccessibleWidget {
public:
    explicit OptionAccessible(QRadioButton* option)
        : QAccessibleWidget(option, QAccessible::RadioButton) {}

    QString text(QAccessible::Text type) const override {
        switch (type) {
            case QAccessible::Name: {
                const QString name = QAccessibleWidget::text(type);
                return name.isEmpty() ? QString(option()->text()).remove(QLatin1Char('&')) : name;
            }
            case QAccessible::Accelerator:
                return QKeySequence::mnemonic(option()->text()).toString(QKeySequence::NativeText);
            default:
                return QAccessibleWidget::text(type);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = option()->isChecked();
        state.pressed = option()->isDown();
        return state;
    }

    QList<QPair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override {
        QList<QPair<QAccessibleInterface*, QAccessible::Relation>> kept;
        const QObject* frame = option()->parentWidget();
        for (const auto& relation : QAccessibleWidget::relations(match)) {
            const bool labelledByFrame = relation.second == QAccessible::Label &&
                                         relation.first != nullptr &&
                                         relation.first->object() == frame;
            if (!labelledByFrame) {
                kept.append(relation);
            }
        }
        return kept;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (option()->isEnabled()) {
            names << toggleAction();
        }
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& actionName) override {
        if (actionName == toggleAction() || actionName == pressAction()) {
            if (option()->isEnabled()) {
                // Asynchronous, as a button's own accessible press is.
                option()->animateClick();
            }
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }

    QStringList keyBindingsForAction(const QString& actionName) const override {
        if (actionName == toggleAction()) {
            const QString mnemonic = text(QAccessible::Accelerator);
            return mnemonic.isEmpty() ? QStringList{} : QStringList{mnemonic};
        }
        return QAccessibleWidget::keyBindingsForAction(actionName);
    }

private:
    QRadioButton* option() const { return static_cast<QRadioButton*>(widget()); }
};

}  // namespace

QAccessibleInterface* optionButtonAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(QRadioButton::staticMetaObject.className())) {
        return nullptr;
    }
    auto* option = qobject_cast<QRadioButton*>(object);
    if (option == nullptr || qobject_cast<QGroupBox*>(option->parentWidget()) == nullptr) {
        return nullptr;
    }
    return new OptionAccessible(option);
}

}  // namespace lyravox::ui
