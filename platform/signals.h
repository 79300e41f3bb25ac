#pragma once
// Requests from outside that a program end early: SIGTERM, SIGINT and SIGHUP
// on Linux; on Windows the console control events (Ctrl+C, Ctrl+Break, the
// console window closing) and the stop event of the process (below).
//
// A program that must leave a device in a sane state asks StopRequested()
// between its steps and winds down itself, rather than being cut off in the
// middle of an exchange.
//
// Windows: a GUI parent cannot send a console control event to a child that
// has a console of its own (the sender must share the child's console, and
// Wine does not deliver such events across consoles at all). So the parent
// sets a named event instead: "TrimsenseStop-<process id of the child>",
// created by whichever side comes first. StopEventName gives the name; on
// Linux it is unused and empty.

#include <cstdint>
#include <string>

namespace tw::platform {

// Installs the handlers (once; later calls do nothing). Before the first call
// StopRequested() is always false.
void WatchStopRequests();

// True once a request to end has arrived.
bool StopRequested();

// Sleeps up to `milliseconds`, returning early (true) when a stop request
// arrives meanwhile; false when the whole time passed.
bool SleepUnlessStopped(int milliseconds);

// The name of the stop event of the process with the given id (Windows);
// empty on Linux.
std::string StopEventName(std::uint32_t processId);

// For tests: forget an earlier request (the handlers stay).
void ResetStopRequest();

}  // namespace tw::platform
