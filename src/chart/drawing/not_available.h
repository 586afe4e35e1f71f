#pragma once
// Drawing that a later step of the chart code brings (3D solids, blending,
// gradient fills, blurred shadows, free 3D, markup, image filters) raises
// this error until then, so that nothing is silently left undrawn.
#include <string>

#include "platform/rtl/exceptions.h"

namespace chart {

class ENotAvailableYet : public rtl::Exception {
public:
    using Exception::Exception;
};

// Raises ENotAvailableYet "<what> is not available yet".
[[noreturn]] void NotAvailableYet(const std::string& what);

}  // namespace chart
