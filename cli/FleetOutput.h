#pragma once

#include "controller/ViewController.h"

#include <optional>
#include <string>
#include <vector>

namespace quillfen::cli {

// Everything one Check run left, as the fleet formats read it.
struct CheckOutcome {
    const ViewController& controller;
    const CheckRecord& record;
    std::optional<SystemColour> light; // no value: no verdict
    std::string report;
    std::vector<std::string> alerts; // informative texts of the alerts shown
    const VolumeQueries& volumes;
};

// One JSON object with the verdict, the report and the figures it is made of.
std::string checkJson(const CheckOutcome& outcome);

// One status line in the monitoring-plugin format, with performance data.
std::string nagiosLine(const CheckOutcome& outcome);

} // namespace quillfen::cli
