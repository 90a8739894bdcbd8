// The in-process PHP runtime: module record, process start-up and shutdown,
// and the run of one script on a worker thread inside a crash guard.
//
// Rule for this file and PHPCallbacks.cpp: PHP leaves frames by longjmp (its
// bail-out) and the crash guard leaves them by siglongjmp. Every frame such a
// jump can cross holds only trivially destructible locals, and no C++
// exception ever unwinds into PHP's C frames.
#ifdef ZORVANE_PHP

#include "PHPRuntime.h"
#include "internal/PHPEnvironment.h"
#include "internal/PHPSapi.h"
#include "internal/PHPSharedExtension.h"
#include "internal/PHPTimeZone.h"

#include <zend_extensions.h>

#include "CrashGuard.h"
#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "HTTPStatus.h"
#include "ScriptVariables.h"
#include "ZorvaneControl.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <dlfcn.h>
#include <time.h>
#include <unistd.h>
#include "ZorvaneVersion.h"

namespace {

void phpModuleInfo(zend_module_entry*)
{
}

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfoRequestHeaders, 0, 0, IS_ARRAY, 0)
ZEND_END_ARG_INFO()

// What PHP's FPM server offers as well: applications call them.
const zend_function_entry builtinFunctions[] = {
    ZEND_FE(apache_request_headers, arginfoRequestHeaders)
    ZEND_FALIAS(getallheaders, apache_request_headers, arginfoRequestHeaders)
    ZEND_FE_END
};

zend_module_entry builtinModuleEntry = {
    STANDARD_MODULE_HEADER,
    "Zorvane",
    builtinFunctions,
    nullptr, // module start-up
    nullptr, // module shutdown
    nullptr, // request start-up
    nullptr, // request shutdown
    phpModuleInfo, // phpinfo() section
    nullptr, // version
    STANDARD_MODULE_PROPERTIES,
};

// Why OPcache could not be loaded at the last start-up ("" when it was).
char opcacheFailure[256] = "";

// OPcache is a zend_extension in its own file in the runtime's build folder,
// whose path only the build knows, so cfg/php.ini cannot name it. PHP would
// open it with RTLD_DEEPBIND, which the address sanitizer's runtime refuses;
// opened here, it loads the same way in every build. PHP closes the handle
// at module shutdown, as for its own zend_extension lines.
void loadOPcache()
{
    opcacheFailure[0] = 0;
#ifdef ZORVANE_PHP_OPCACHE
    void* handle = dlopen(ZORVANE_PHP_OPCACHE, RTLD_LAZY | RTLD_GLOBAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        snprintf(opcacheFailure, sizeof(opcacheFailure), "%s", why != nullptr ? why : ZORVANE_PHP_OPCACHE);
        return;
    }
    if (zend_load_extension_handle(handle, ZORVANE_PHP_OPCACHE) != SUCCESS) {
        snprintf(opcacheFailure, sizeof(opcacheFailure), "%s is not a usable Zend extension", ZORVANE_PHP_OPCACHE);
    }
#endif
}

// What php.ini leaves out. The date functions follow the system's time zone,
// as every other program on the machine does, unless php.ini names one.
void iniDefaults(HashTable* configuration)
{
    // PHP asks for its defaults after the engine started and before it loads
    // the extensions of php.ini: the moment to add ours.
    loadOPcache();
    std::string zone = systemTimeZoneName();
    if (zone.empty()) return;
    zval value;
    ZVAL_NEW_STR(&value, zend_string_init(zone.data(), zone.size(), 1));
    zend_hash_str_update(configuration, ZEND_STRL("date.timezone"), &value);
}

// Why gd could not be added at the last start-up ("" when it was, or when
// the runtime has it built in).
char gdFailure[256] = "";

// gd is an extension in its own file, so that the image libraries it needs
// are not dependencies of every program linking the runtime. It is added
// where php.ini's extension lines would add it, after the built-in ones.
// PHP closes the handle at module shutdown, as for its own extension lines.
void registerGd()
{
    gdFailure[0] = 0;
#ifdef ZTS
    if (zend_hash_str_exists(&module_registry, ZEND_STRL("gd"))) return;
#ifdef ZORVANE_PHP_GD
    PHPSharedExtension gd;
    if (!openPHPExtension(ZORVANE_PHP_GD, gd, gdFailure, sizeof(gdFailure))) return;
    auto* module = static_cast<zend_module_entry*>(gd.module);
    module->handle = gd.handle;
    // A refused module keeps its handle: PHP may have closed it already.
    if (zend_register_internal_module(module) == nullptr) {
        snprintf(gdFailure, sizeof(gdFailure), "%s was refused by the runtime", ZORVANE_PHP_GD);
    }
#else
    snprintf(gdFailure, sizeof(gdFailure), "gd.so was not found when this program was built");
#endif
#endif
}

int registerExtensions()
{
    if (php_register_internal_extensions() == FAILURE) return FAILURE;
    // Before the runtime copies its function table for each thread.
    installScriptEnvironment();
    registerGd();
    return SUCCESS;
}

int sapiStartup(sapi_module_struct* module)
{
    int (*const builtIn)() = php_register_internal_extensions_func;
    php_register_internal_extensions_func = registerExtensions;
    const bool failed = php_module_startup(module, &builtinModuleEntry) == FAILURE;
    php_register_internal_extensions_func = builtIn;
    return failed ? -1 : 0;
}

#ifndef ZTS
// Settings cfg/php.ini cannot give: they come after it and win. The
// non-thread-safe runtime must not kill the whole server when a script
// overruns its time limit while blocked in a system call.
char builtInIniEntries[] = "hard_timeout=0\n";
#else
char* const builtInIniEntries = nullptr;
#endif

sapi_module_struct makeSapiModule()
{
    sapi_module_struct m;
    memset(&m, 0, sizeof(m));
    m.name = const_cast<char*>("Zorvane");
    m.pretty_name = const_cast<char*>(ZORVANE_WITH_PHP);
    m.startup = sapiStartup;
    m.shutdown = php_module_shutdown_wrapper;
    m.ub_write = sapiUbWrite;
    m.sapi_error = zend_error;
    m.header_handler = sapiHeaderHandler;
    m.send_headers = sapiSendHeaders;
    m.read_post = sapiReadPost;
    m.read_cookies = sapiReadCookies;
    m.register_server_variables = sapiRegisterServerVariables;
    m.log_message = sapiLogMessage;
    m.terminate_process = sapiTerminateProcess;
    m.flush = sapiFlush;
    m.activate = sapiActivate;
    m.ini_defaults = sapiIniDefaults;
    m.php_ini_path_override = const_cast<char*>("cfg");
    return m;
}

sapi_module_struct sapiModule = makeSapiModule();

// Process state of the runtime, written under stateLock. What every request
// looks at is atomic, so that the workers' scripts do not queue for the lock.
std::mutex stateLock;
int users = 0; // startupPHP calls not yet matched by shutdownPHP
std::atomic<unsigned long long> postMaxSize {0};
bool started = false; // the runtime was started (and not yet shut down)
std::atomic<bool> available {false}; // ... and its module start-up succeeded
std::atomic<int> runtimeGeneration {0}; // counts start-ups: a thread's context belongs to one
char version[32] = "";

#ifndef ZTS
// The non-thread-safe runtime runs one script at a time.
std::mutex scriptLock;
#endif

// Per-thread state: the runtime context of this thread and the request that
// is running on it.
struct ThreadState {
    bool hasContext = false;
    bool broken = false; // discarding a crashed context failed: no PHP on this thread

    int generation = 0;
    PHPRequestContext* context = nullptr;
    ~ThreadState()
    {
#ifdef ZTS
        if (!hasContext || broken) return;
        std::lock_guard<std::mutex> lock(stateLock);
        if (started && generation == runtimeGeneration) ts_free_thread();
#endif
    }
};
thread_local ThreadState threadState;

// Start-up lines wait here when there is no control to take them yet.
struct PendingLine {
    int level;
    char text[200];
};
// The version line and a warning each for OPcache and gd, with room to spare.
constexpr int MAX_PENDING_LINES = 4;
PendingLine pendingLines[MAX_PENDING_LINES];
std::atomic<int> pendingCount {0};

void logLine(ZorvaneControl* control, const char* text, int level)
{
    if (control == nullptr) {
        int n = pendingCount.load();
        if (n < MAX_PENDING_LINES) {
            pendingLines[n].level = level;
            snprintf(pendingLines[n].text, sizeof(pendingLines[n].text), "%s", text);
            pendingCount = n + 1;
        }
        return;
    }
    try {
        control->log(text, level);
    } catch (...) {
    }
}

void readRuntimeFacts(bool& threadSafe)
{
    threadSafe = false;
    version[0] = 0;
    zval* v = zend_get_constant_str(ZEND_STRL("PHP_VERSION"));
    if (v != nullptr && Z_TYPE_P(v) == IS_STRING) {
        snprintf(version, sizeof(version), "%s", Z_STRVAL_P(v));
    }
    zval* ts = zend_get_constant_str(ZEND_STRL("ZEND_THREAD_SAFE"));
    threadSafe = ts != nullptr && Z_TYPE_P(ts) == IS_TRUE;
}

void startRuntime(ZorvaneControl* control)
{
    pendingCount = 0;
#ifdef ZTS
    php_tsrm_startup();
#endif
#ifdef ZEND_SIGNALS
    zend_signal_startup();
#endif
    sapi_startup(&sapiModule);
    ++runtimeGeneration;
    sapi_module.ini_entries = builtInIniEntries;
    started = true;
    available = sapi_module.startup != nullptr && sapi_module.startup(&sapi_module) == 0;
    if (!available) {
        logLine(control, "Cannot start the PHP runtime: requests for PHP scripts are answered with 500.", -1);
        return;
    }

    bool threadSafe = false;
    readRuntimeFacts(threadSafe);
    // Read once here: the server refuses larger bodies before a script runs,
    // and the setting cannot change while the runtime lives.
    postMaxSize = SG(post_max_size) > 0 ? (unsigned long long)SG(post_max_size) : 0;
    char line[160];
#ifdef ZTS
    if (!threadSafe) {
        available = false;
        snprintf(
            line, sizeof(line), "The embedded PHP %s is not thread-safe: PHP scripts are answered with 500.", version);
        logLine(control, line, -1);
        return;
    }
    snprintf(line, sizeof(line), "Embedded PHP %s, thread-safe", version);
    if (opcacheFailure[0] != 0) {
        char warning[400];
        snprintf(warning, sizeof(warning), "PHP runs without OPcache: %s", opcacheFailure);
        logLine(control, warning, -1);
    }
    if (gdFailure[0] != 0) {
        char warning[400];
        snprintf(warning, sizeof(warning), "PHP runs without gd: %s", gdFailure);
        logLine(control, warning, -1);
    }
#else
    // Without virtual working directories a chdir() into the script's folder
    // would move the whole process.
    SG(options) |= SAPI_OPTION_NO_CHDIR;
    snprintf(line, sizeof(line), "Embedded PHP %s, not thread-safe: one script at a time", version);
#endif
    logLine(control, line, 1);
}

void stopRuntime()
{
    if (sapi_module.shutdown != nullptr) sapi_module.shutdown(&sapi_module);
    sapi_shutdown();
#ifdef ZTS
    tsrm_shutdown();
#endif
    started = false;
    available = false;
}

void answerUnavailable(HTTPRequest* request)
{
    try {
        request->response->sendError(HTTP_STATUS_INTERNAL_SERVER_ERROR, "The PHP runtime is not available.", true);
    } catch (...) {
    }
}

void setRequestInfo(PHPRequestContext* context)
{
    HTTPRequest* request = context->request;
    SG(request_info).request_method = request->method.getBuf();
    SG(request_info).query_string = request->queryString.getBuf();
    SG(request_info).path_translated = request->scriptFilename.getBuf();
    SG(request_info).request_uri = request->requestURI.getBuf();
    SG(request_info).content_type = request->contentTypeHeader.getBuf();
    // A negative length (a malformed header) means no body.
    SG(request_info).content_length = request->contentLength > 0 ? request->contentLength : 0;
    SG(request_info).auth_user = nullptr;
    SG(request_info).auth_password = nullptr;
    SG(request_info).auth_digest = nullptr;
    // Basic credentials become PHP_AUTH_USER and PHP_AUTH_PW, as under PHP-FPM.
    const char* authorization = request->getHeader("AUTHORIZATION");
    if (*authorization != '\0') php_handle_auth_data(authorization);
    // PHP keeps the code of the previous request on this thread otherwise.
    SG(sapi_headers).http_response_code = 200;
    SG(server_context) = context;
}

// Reports a crash once per request: the first one is what went wrong.
void reportCrash(PHPRequestContext* context, const CrashGuard& caught)
{
    if (context->crashed) return;
    context->crashed = true;
    char text[1024];
    unsigned length = formatCrashText(caught, text, sizeof(text));
    CrashGuard reportGuard;
    if (sigsetjmp(reportGuard.jump, 1) == 0) {
        enterCrashGuard(&reportGuard);
        reportPHPCrash(text, length);
        leaveCrashGuard(&reportGuard);
    }
}

void shutdownRequest(PHPRequestContext* context)
{
    if (context->handleOpen) {
        context->handleOpen = false;
        zend_destroy_file_handle(&context->handle);
    }
    context->shutdownStarted = true;
    JMP_BUF* const bailoutTarget = EG(bailout);
    CrashGuard guard;
    if (sigsetjmp(guard.jump, 1) == 0) {
        enterCrashGuard(&guard);
        php_request_shutdown(nullptr);
        leaveCrashGuard(&guard);
    } else {
        // A shutdown function or destructor crashed: the context is half shut
        // and is discarded after the report. PHP's bail-out target was in one
        // of its frames.
        EG(bailout) = bailoutTarget;
        reportCrash(context, guard);
    }
}

// Drops the calling thread's runtime context after a crash; the next request
// on this thread gets a fresh one. What the failed request added to the
// thread's tables lives in its own memory, which goes as a whole: those
// entries are dropped unread, as PHP's own fast shutdown does.
void discardThreadContext()
{
#ifdef ZTS
    CrashGuard guard;
    if (sigsetjmp(guard.jump, 1) == 0) {
        enterCrashGuard(&guard);
        if (EG(zend_constants)->nNumUsed > EG(persistent_constants_count))
            zend_hash_discard(EG(zend_constants), EG(persistent_constants_count));
        if (EG(function_table)->nNumUsed > EG(persistent_functions_count))
            zend_hash_discard(EG(function_table), EG(persistent_functions_count));
        if (EG(class_table)->nNumUsed > EG(persistent_classes_count))
            zend_hash_discard(EG(class_table), EG(persistent_classes_count));
#ifdef ZEND_MAX_EXECUTION_TIMERS
        // The time-limit timer signals this thread; it must not outlive the context.
        if (EG(pid) != 0) {
            timer_delete(EG(max_execution_timer_timer));
            EG(pid) = 0;
        }
#endif
        ts_free_thread();
        leaveCrashGuard(&guard);
        threadState.hasContext = false;
    } else {
        // The context could not even be freed; TSRM's lock may be held by this
        // thread now. Leave PHP alone here for good.
        threadState.broken = true;
    }
#else
    // One context per process: it cannot be replaced while the server runs.
#endif
}

// Start-up, execution and shutdown of one request. Reached by PHP's bail-out
// and by the crash guard's jump: plain locals only.
void runScript(PHPRequestContext* context)
{
    JMP_BUF* const outerBailout = EG(bailout);
    CrashGuard* const outerGuard = currentCrashGuard();
    JMP_BUF bailout;

    EG(bailout) = &bailout;
    if (SETJMP(bailout) == 0) {
        CrashGuard guard;
        if (sigsetjmp(guard.jump, 1) == 0) {
            enterCrashGuard(&guard);
            setRequestInfo(context);
            if (php_request_startup() == SUCCESS) {
#ifdef ZEND_SIGNALS
                // The first start-up put PHP's signal handlers in place for the
                // whole process: later ones on this thread need not ask for all
                // seven again.
                SIGG(reset) = 0;
#endif
                zend_stream_init_filename(&context->handle, context->scriptPath);
                context->handle.primary_script = 1;
                context->handleOpen = true;
                php_execute_script(&context->handle);
            }
            leaveCrashGuard(&guard);
        } else {
            // The fault left PHP's own bail-out target in a frame that is gone.
            EG(bailout) = &bailout;
            CG(unclean_shutdown) = 1;
            reportCrash(context, guard);
        }
        shutdownRequest(context);
    } else {
        // PHP bailed out of a frame above (exit() and fatal errors inside the
        // script end in php_execute_script; this is for the rest).
        restoreCrashGuard(outerGuard);
        if (!context->shutdownStarted) {
            EG(bailout) = &bailout;
            zend_try
            {
                shutdownRequest(context);
            }
            zend_end_try();
        }
    }
    EG(bailout) = outerBailout;
    restoreCrashGuard(outerGuard);
}

// The calling thread's runtime context and crash guard; once per thread.
bool prepareThread()
{
    if (threadState.broken) return false;
    int current = runtimeGeneration.load();
    if (!threadState.hasContext || threadState.generation != current) {
#ifdef ZTS
        ts_resource(0);
#endif
        threadState.hasContext = true;
        threadState.generation = current;
    }
    return prepareCrashGuard();
}

} // namespace

void sapiIniDefaults(HashTable* configuration)
{
    try {
        iniDefaults(configuration);
    } catch (...) {
    }
}

PHPRequestContext* currentPHPContext()
{
    return threadState.context;
}

void startupPHP(ZorvaneControl* control)
{
    std::lock_guard<std::mutex> lock(stateLock);
    if (users++ > 0) return;
    startRuntime(control);
}

void announcePHP(ZorvaneControl* control)
{
    if (control == nullptr || pendingCount.load() == 0) return;
    PendingLine lines[MAX_PENDING_LINES];
    int count;
    {
        std::lock_guard<std::mutex> lock(stateLock);
        count = pendingCount;
        memcpy(lines, pendingLines, sizeof(lines));
        pendingCount = 0;
    }
    for (int i = 0; i < count; i++)
        logLine(control, lines[i].text, lines[i].level);
}

void shutdownPHP()
{
    std::lock_guard<std::mutex> lock(stateLock);
    if (users == 0 || --users > 0) return;
    if (started) stopRuntime();
}

bool isPHPAvailable()
{
    return available.load();
}

bool isPHPThreadSafe()
{
#ifdef ZTS
    return true;
#else
    return false;
#endif
}

const char* getPHPVersion()
{
    return version;
}

unsigned long long getPHPPostMaxSize()
{
    return postMaxSize.load();
}

void executePHPScript(HTTPRequest* request)
{
    announcePHP(request->control);
    if (!isPHPAvailable() || !prepareThread()) {
        answerUnavailable(request);
        return;
    }
#ifndef ZTS
    std::lock_guard<std::mutex> lock(scriptLock);
#endif
    // PHP moves into the script's folder before it opens the script, so a
    // relative path (a relative document path) would no longer lead to it.
    std::string scriptPath = request->scriptFilename.getBuf();
    if (!scriptPath.empty() && scriptPath[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof(cwd)) != nullptr) scriptPath = std::string(cwd) + "/" + scriptPath;
    }
    ScriptVariables variables(*request, ScriptKind::PHP);
    PHPScriptEnvironment environment;
    PHPRequestContext context;
    memset(&context, 0, sizeof(context));
    context.request = request;
    context.scriptPath = scriptPath.c_str();
    context.variables = &variables;
    context.environment = &environment;
    context.headOnly = request->methodIndex == HTTPRequest::METHOD_HEAD;
    threadState.context = &context;
    runScript(&context);
    if (context.crashed) {
        discardThreadContext();
    } else {
        releaseHeldOutput(&context, HeldOutput::WithLength);
    }
    threadState.context = nullptr;
    free(context.held);
}

int reportPHPCrash(const char* text, unsigned length)
{
    PHPRequestContext* context = currentPHPContext();
    if (context == nullptr) return 0;
    HTTPRequest* request = context->request;
    if (request->control != nullptr) {
        try {
            request->control->log(text, -1);
        } catch (...) {
        }
    }
    // Held output and a pending header block belong to the failed script.
    context->holdOutput = false;
    context->headersPending = false;
    context->heldLength = 0;
    int written = 0;
    try {
        HTTPResponse* response = request->response;
        if (!response->isHeadersSent()) {
            response->clearHeaders();
            response->setAutoHeaders(true);
            response->setStatus(HTTP_STATUS_INTERNAL_SERVER_ERROR);
        }
        response->write(text, length);
        written = static_cast<int>(length);
    } catch (...) {
    }
    // Nothing the script had buffered may follow the crash report.
    SG(headers_sent) = 1;
    php_output_set_status(PHP_OUTPUT_DISABLED);
    return written;
}

#endif
