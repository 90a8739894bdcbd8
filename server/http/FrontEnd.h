#pragma once

// Which program runs the server. The windowed program shows no console, so
// the server leaves out the lines only a console would show.
enum class FrontEnd { Console, Windowed };

void setServerFrontEnd(FrontEnd kind);
FrontEnd serverFrontEnd();
inline bool isConsoleFrontEnd()
{
    return serverFrontEnd() == FrontEnd::Console;
}
