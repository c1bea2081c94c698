#include "ui/ApplicationAccessible.h"

#include <QAccessibleObject>
#include <QCoreApplication>
#include <QString>

namespace lyravox::ui {
namespace {

class Application final : public QAccessibleApplication {
public:
    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Description) {
            return QCoreApplication::translate("Program",
                                               "Reference sounds for tuning a guitar by ear");
        }
        return QAccessibleApplication::text(type);
    }
};

}  // namespace

QAccessibleInterface* applicationAccessible(const QString&, QObject* object) {
    return object != nullptr && object == QCoreApplication::instance() ? new Application : nullptr;
}

}  // namespace lyravox::ui
