// The library's entry points.
#include "zipengine/zip_engine_api.h"

int32_t GetZipEngineVersion(void) {
    return ZIP_ENGINE_VERSION;
}

int32_t GetZipEnginePrivVersion(void) {
    return ZIP_ENGINE_VERSION;
}

int32_t ZipEngineExec(TZipCommand* command) {
    (void)command;
    return -1;
}
