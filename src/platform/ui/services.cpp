#include "platform/ui/services.h"

#include "listio/errors.h"

#include <QFile>
#include <unistd.h>

namespace vq::platform {

Services* makeQtServices(); // qt_services.cpp

namespace {
Services* installed = nullptr;

Services& realServices() {
    static Services* real = makeQtServices();
    return *real;
}
} // namespace

Services& services() {
    return installed ? *installed : realServices();
}

void setServices(Services* s) {
    installed = s;
}

bool execute(FileDialog& d, QWidget* owner) {
    if (!services().runFileDialog(d, owner)) return false;
    // The design's dialogs never restore the previous folder: the folder of
    // the chosen file stays current, and later plain names resolve there.
    const std::string& name = d.fileName;
    if (auto slash = name.rfind('/'); slash != std::string::npos) {
        std::string folder = slash == 0 ? std::string("/") : name.substr(0, slash);
        if (chdir(folder.c_str()) != 0) {
            // A folder that vanished meanwhile: the open that follows reports it.
        }
    }
    return true;
}

void showFailure(QWidget* owner, const char* what) {
    services().errorBox(owner, QString::fromUtf8(withFullStop(what ? what : "")));
}

void guarded(QWidget* owner, const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        showFailure(owner, currentFailure().text.c_str());
    }
}

QString fromFileName(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

std::string toFileName(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

} // namespace vq::platform
