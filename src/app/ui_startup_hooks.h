#pragma once
// Plugs every window into the main toolbar and installs the start-up checks.
// Each subsystem adds its windows here.

class Station;
class w_main;

void installStartupHooks(Station& station);
// Registers the child windows on a newly made main window.
void registerWindows(w_main& w, Station& station);
