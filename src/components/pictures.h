#pragma once
// The pictures embedded in the program (resources/pictures.qrc).
#include <QByteArray>
#include <QString>

namespace vq::components {

// The raw bytes of an embedded picture, by file name ("program_picture.jpg",
// "picture_strip.jpg", "switch_off.png"); empty when there is none.
QByteArray embeddedPicture(const QString& name);

} // namespace vq::components
