#include "components/pictures.h"

#include <QFile>

// The pictures live in a static library, whose resource registration the
// linker would drop unless something refers to it.
static void registerPictures() {
    Q_INIT_RESOURCE(pictures);
}

namespace vq::components {

QByteArray embeddedPicture(const QString& name) {
    static const bool registered = (registerPictures(), true);
    (void)registered;
    QFile f(QStringLiteral(":/vq/") + name);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

} // namespace vq::components
