// The library's entry points. Nothing may escape them as an exception: the caller is C.
#include "zipengine/zip_batch.hpp"
#include "zipengine/zip_engine_api.h"

int32_t GetZipEngineVersion(void) {
    return ZIP_ENGINE_VERSION;
}

int32_t GetZipEnginePrivVersion(void) {
    return ZIP_ENGINE_VERSION;
}

int32_t ZipEngineExec(TZipCommand* command) {
    if (command == nullptr) {
        return -1;
    }
    try {
        sejfko::zipengine::TZipBatch batch(*command);
        return batch.Run();
    } catch (...) {
        return -1;
    }
}
