#include "ui/BannerPictureAccessible.h"

#include "ui/BannerPicture.h"

#include <QAccessibleWidget>
#include <QString>
#include <QStringList>

namespace lyravox::ui {
namespace {

class BannerAccessible final : public QAccessibleWidget {
public:
    explicit BannerAccessible(BannerPicture* picture)
        : QAccessibleWidget(picture, QAccessible::Graphic) {}

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& actionName) override {
        if (actionName == pressAction()) {
            // Queued, as a button's animated click is: the About window's modal loop must not
            // run inside the assistive technology's request, which would then time out.
            auto* picture = static_cast<BannerPicture*>(widget());
            QMetaObject::invokeMethod(picture, &BannerPicture::clicked, Qt::QueuedConnection);
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }
};

}  // namespace

QAccessibleInterface* bannerPictureAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(BannerPicture::staticMetaObject.className())) {
        return nullptr;
    }
    auto* picture = qobject_cast<BannerPicture*>(object);
    return picture != nullptr ? new BannerAccessible(picture) : nullptr;
}

}  // namespace lyravox::ui
