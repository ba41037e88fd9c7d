#include "link/request_scheduler.h"

#include "link/link_status.h"

#include <QtGlobal>

void RequestScheduler::reset()
{
    *this = RequestScheduler{};
}

void RequestScheduler::header(const QString& accessCode, int protocolCode, int code)
{
    txFrame[0] = codec::accessCodeByte(accessCode, 0);
    txFrame[1] = codec::accessCodeByte(accessCode, 2);
    txFrame[2] = protocolCode;
    txFrame[3] = code;
}

QByteArray RequestScheduler::send(int n, const Request& request)
{
    n = qBound(1, n, MaxFrameBytes - 1);
    awaitingAnswer = 1;
    ++framesSent;
    waitCountdown = request.deadline;
    pendingCommand = LinkCommands::CmdNone;
    outstanding = request;
    return codec::encode(txFrame.data(), n);
}

bool RequestScheduler::missedTurn()
{
    frameError = true;
    ++retryCounter;
    if (retryCounter >= 10) {
        pendingCommand = LinkCommands::CmdEnd;
        return true;
    }
    return false;
}

void RequestScheduler::answered(int code)
{
    retryCounter = 0;
    if (code >= 0 && code < int(answersReceived.size()))
        ++answersReceived[size_t(code)];
}
