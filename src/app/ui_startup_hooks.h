#pragma once
// Plugs every window into the main toolbar and installs the start-up checks.
// Each subsystem adds its windows here.

void installStartupHooks();
// Registers the child windows on a newly made main window.
class w_main;
struct StationContext;
void registerWindows(w_main& w, StationContext& ctx);
