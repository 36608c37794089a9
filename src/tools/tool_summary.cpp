#include "tools/tool_summary.h"

#include "runtime/format.h"
#include "volume/report.h"

namespace vr {

float Tool_Clock() { return static_cast<float>(Timer()); }

float Tool_Elapsed(float T0) {
  float elapsed = Tool_Clock() - T0;
  if (elapsed < 0) elapsed += 86400.0f;
  return elapsed;
}

void Report_Rates(float Bytes, int64_t Files, float Elapsed) {
  const double mbPerSec = Elapsed > 0 ? Bytes / 1024000.0 / Elapsed : 0.0;
  const double filesPerSec = Elapsed > 0 ? static_cast<double>(Files) / Elapsed : 0.0;
  ReportLine("Bytes=" + Format(Bytes, "#,###") + "   MB/Sec=" + Format(mbPerSec, "0.00"));
  ReportLine("Time=" + Format(Elapsed, "0.0") + " Secs." + " Rate=" + Format(filesPerSec, "0") +
             " Files/Sec.");
}

}  // namespace vr
