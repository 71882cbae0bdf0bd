#pragma once
// JPEG pictures of the About window, decoded with libjpeg.
#include "listio/errors.h"

#include <QByteArray>
#include <QImage>

class EJPEG : public vq::Exception {
public:
    using vq::Exception::Exception;
};

namespace vq::components {

// The largest side accepted; anything bigger is not one of our pictures.
inline constexpr int kMaxJpegSide = 8192;

// Decodes JPEG data into an RGB picture. Damaged or unsupported data (also
// data libjpeg would patch over with a warning) throws EJPEG with
// "JPEG error: " and libjpeg's own description.
QImage decodeJpeg(const QByteArray& data);

} // namespace vq::components
