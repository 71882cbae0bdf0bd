#pragma once
// Typed text that becomes file bytes (a parameter, a self-added address) is
// code page 936 (GBK), and bytes shown in a grid are decoded the same way.
#include <QString>
#include <string>

namespace vq::platform {

std::string toCodePage(const QString& text);
QString fromCodePage(const std::string& bytes);

} // namespace vq::platform
