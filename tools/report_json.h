// report.json: what a run computed, for tools and scripts (the text table is for people).
#pragma once

#include <string>

#include "host_run.h"

std::string ReportJson(const RunResult& result);
