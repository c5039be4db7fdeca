// qrtool: the survey reading of XYZ and ASEG-GDF text: lines, channels, nulls and ranges.
#include "survey_scan.h"

namespace qrtool {

struct SurveyScan::State {
    ScanSummary summary;
};

SurveyScan::SurveyScan(ScanOptions options) : m_options(std::move(options)), m_pState(new State) {}
SurveyScan::~SurveyScan() { delete m_pState; }
const ScanSummary& SurveyScan::summary() const { return m_pState->summary; }

ScanResult SurveyScan::scanFile(const std::string&, ScanSink&, int64_t) {
    m_sError = "not supported yet";
    return ScanResult::BadOption;
}

ScanResult SurveyScan::scan(ByteSource&, ScanSink&, const std::string&, int64_t) {
    m_sError = "not supported yet";
    return ScanResult::BadOption;
}

}  // namespace qrtool
