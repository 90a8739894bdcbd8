#include "ServerConfig.h"

#include "WSystem.h"

ServerConfig::ServerConfig()
    : host("localhost"), port(80), serverAdmin("webmaster@localhost"), autoFinish(0)
{
    WSystem::getCurrentDirectory(documentPath);
    documentPath.replace('\\', '/');
}

ServerConfig& ServerConfig::operator=(const ServerConfig& other)
{
    host = other.host;
    port = other.port;
    documentPath = other.documentPath;
    serverAdmin = other.serverAdmin;
    startURL = other.startURL;
    autoFinish = other.autoFinish;
    return *this;
}
