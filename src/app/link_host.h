#pragma once
// The station as the panel link's host: its connection, its serial port
// state and its error messages.

class LinkHost;

LinkHost& stationLinkHost();
