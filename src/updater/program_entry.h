// The program entry shared by the updater's front ends: it creates the
// process-wide services and the window, lets the front end drive it, and
// destroys the services in their fixed order.
#pragma once

#include <functional>

#include "ui/toolkit.h"
#include "updater/u_updater.h"

// Runs the program, an updater built as `config`, with `toolkit`. `drive` shows the window and runs
// the message loop; without one the window is shown and the loop runs until the application
// terminates. Returns the program's exit status: 0, or what `drive` returns.
int UpdaterProgram(ui::Toolkit& toolkit, const UpdaterConfig& config,
                   const std::function<int(TFUpdater&)>& drive = nullptr);

// Handles messages until the run has stopped: nothing more is waiting to
// happen, or the application was asked to end.
void RunUntilStopped(ui::Toolkit& toolkit, const TFUpdater& updater);
