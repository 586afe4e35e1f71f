#pragma once
// The errors the chart engine raises, each with a text of the string tables.
#include "platform/rtl/exceptions.h"

namespace chart::engine {

class ChartException : public rtl::Exception {
  public:
    using Exception::Exception;
};

// A range or setting of an axis that cannot be.
class AxisException : public rtl::Exception {
  public:
    using Exception::Exception;
};

// A legend setting that cannot be.
class LegendException : public rtl::Exception {
  public:
    using Exception::Exception;
};

}  // namespace chart::engine
