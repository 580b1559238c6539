#pragma once
// Pictures of an evaluation, drawn with cairo as PNG and SVG: the DET curves
// of every set on one plot with log-scaled axes and the product threshold
// marked, and each set's genuine and impostor score histograms.
#include <string>
#include <vector>

#include "evaluation/report.h"

namespace vorsensor::evaluation {

// Writes det.png, det.svg and, per set (and pooled when there are several),
// histogram_SET.png and .svg into `folder`, which must exist. Returns the
// files written; on failure sets `error` to one line naming the file.
std::vector<std::string> WritePlots(const EvaluationSummary& summary, const std::string& folder, std::string* error);

// The file name part for a set's name: letters, digits, '-' and '_' kept,
// anything else '_'.
std::string FileNamePart(const std::string& name);

}  // namespace vorsensor::evaluation
