#include "optimise/pass_support.h"

#include "optimise/optimiser_display.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr::pass {

bool Shared_Ntfs() { return VolumeSession.SharedMode != 0 && VolumeSession.IsNtfs != 0; }

void Gaps_Chart() {
  if (OptimiserCharts* charts = Optimiser_Charts()) charts->ShowGaps();
}

void Pass_Error_Exit(const std::string& Where, const std::string& Description) {
  if (ErrorState.ErrorText.empty()) ErrorState.ErrorText = Description;
  if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = Where;
  ErrorState.ErrorCount = 1;
  ErrorState.Failed = kTrue;
}

}  // namespace vr::pass
