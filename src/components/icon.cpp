#include "components/icon.h"

TIcon::~TIcon() {
    if (handle_) vq::platform::destroyIconHandle(handle_);
}

void TIcon::Assign(const QIcon& picture) {
    if (handle_) vq::platform::destroyIconHandle(handle_);
    handle_ = 0;
    picture_ = picture;
}

vq::platform::HICON TIcon::Handle() {
    if (!handle_ && !Empty()) handle_ = vq::platform::createIconHandle(picture_);
    return handle_;
}

int TImageList::Add(const QIcon& picture) {
    images_.push_back(picture);
    return Count() - 1;
}

void TImageList::GetIcon(int Index, TIcon& Icon) const {
    Icon.Assign(Index >= 0 && Index < Count() ? images_[static_cast<std::size_t>(Index)] : QIcon());
}
