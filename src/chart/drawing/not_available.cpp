#include "chart/drawing/not_available.h"

namespace chart {

void NotAvailableYet(const std::string& what) { throw ENotAvailableYet(what + " is not available yet"); }

}  // namespace chart
