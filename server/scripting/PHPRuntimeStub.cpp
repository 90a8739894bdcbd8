// A server built without PHP answers requests for PHP scripts with 500.
#ifndef ZORVANE_PHP

#include "PHPRuntime.h"

#include "WException.h"

void startupPHP(ZorvaneControl*)
{
}
void announcePHP(ZorvaneControl*)
{
}
void shutdownPHP()
{
}
void executePHPScript(HTTPRequest*)
{
    throw WException("PHP runtime is not built in.", -1);
}
bool isPHPAvailable()
{
    return false;
}
bool isPHPThreadSafe()
{
    return false;
}
const char* getPHPVersion()
{
    return "";
}
unsigned long long getPHPPostMaxSize()
{
    return 0;
}

#endif
