#include "link/request.h"

bool Request::fits(int answer, int count) const
{
    switch (code) {
    case ReadMemory:
        // Exactly the run's bytes: fewer would leave addresses unread, more
        // belong to some other run.
        return answer == 0 && runEnd > runStart && count - 1 == runEnd - runStart;
    case WriteMemory:
        return answer == 1;
    case Status: case Arm: case Disarm: case Bypass: case SetClock: case Pgm: case Panic: case FaultStatus:
    case Partition:
        // Status and commands are answered with a status; bytes 1-8 are
        // read in every one.
        return (answer == 2 || answer == 12) && count >= 9;
    case ReadClock:
        return answer == 10 && count >= 6;
    case ShortEvents:
    case DatedEvents:
        return answer == code;
    default:
        // The end of the connection is never answered.
        return false;
    }
}
