// What every program of the updater does around its front end: the
// process-wide services (the options, the log file) are made first and
// released last, in their fixed order, and the loop runs until a session
// has stopped.
#pragma once

#include <functional>
#include <string>

#include "updater/session/u_session.h"

// Runs `body` with the services made and the options loaded; returns what
// it returns. When a service cannot be made, `cannotStart` is told why and
// the program ends with status 0, as it always did.
int WithProgramServices(const std::function<void(const std::string& problem)>& cannotStart,
                        const std::function<int()>& body);

// Handles messages until the run has stopped: nothing more is waiting to
// happen, or the application was asked to end.
void RunUntilStopped(const UpdateSession& session);
