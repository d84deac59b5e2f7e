// SPDX-License-Identifier: MIT
#pragma once

// Text that every stored form carries unchanged: UTF-16 without an unpaired
// surrogate (UTF-8 cannot hold one). Shared by the key rule and the codec.

#include <QStringView>

namespace DataSets {
namespace Impl {

bool isWellFormedUtf16(QStringView text) noexcept;

} // namespace Impl
} // namespace DataSets
