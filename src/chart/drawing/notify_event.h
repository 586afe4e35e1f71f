#pragma once
// The change event of the chart's settings objects: called with the object
// whose setting changed.
#include <functional>

#include "platform/vcl/persistent.h"

namespace chart {

using TNotifyEvent = std::function<void(vcl::TPersistent* Sender)>;

}  // namespace chart
