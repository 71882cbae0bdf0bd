#include "components/jpeg_decode.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace vq::components {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return; we jump back to the decoder with the message kept.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onFatal(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// A warning means damaged data that libjpeg would patch over (a truncated
// file turns grey); our pictures are whole or wrong, never patched.
void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0) onFatal(cinfo);
}

// Only objects without destructors live in this frame, so the jump back
// from libjpeg skips nothing. Returns false with `message` filled on failure.
bool decodeInto(const unsigned char* data, unsigned long size, QImage* out, char* message) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onFatal;
    err.pub.emit_message = onMessage;
    err.message[0] = '\0';
    if (setjmp(err.jump)) {
        std::memcpy(message, err.message, JMSG_LENGTH_MAX);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > unsigned(kMaxJpegSide) || cinfo.image_height > unsigned(kMaxJpegSide)) {
        std::snprintf(message, JMSG_LENGTH_MAX, "picture of %ux%u pixels is too large",
                      cinfo.image_width, cinfo.image_height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    *out = QImage(int(cinfo.output_width), int(cinfo.output_height), QImage::Format_RGB888);
    if (out->isNull()) {
        std::snprintf(message, JMSG_LENGTH_MAX, "out of memory");
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->scanLine(int(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QImage decodeJpeg(const QByteArray& data) {
    QImage picture;
    char message[JMSG_LENGTH_MAX] = {};
    if (data.isEmpty()) throw EJPEG("JPEG error: no picture data");
    if (!decodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                    static_cast<unsigned long>(data.size()), &picture, message))
        throw EJPEG(std::string("JPEG error: ") + message);
    return picture;
}

} // namespace vq::components
