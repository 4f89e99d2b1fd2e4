// The program entry of the window updater: the process-wide services, the
// window shown and the loop run until the application ends, and the
// services released in their fixed order.
#pragma once

#include "ui/toolkit.h"
#include "updater/session/program_services.h"
#include "updater/u_updater.h"

// Runs the program, an updater built as `config`, with `toolkit`; returns
// its exit status, 0.
int UpdaterProgram(ui::Toolkit& toolkit, const UpdaterConfig& config);
