// The Windows error codes the seams answer with (registry results, and the last
// error after a process or file call), under the names of winerror.h.
#pragma once

namespace velmora {

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorPathNotFound = 3;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorSharingViolation = 32;
constexpr long kErrorInvalidName = 123;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
constexpr long kErrorElevationRequired = 740;
constexpr long kErrorKeyDeleted = 1018;

}  // namespace velmora
