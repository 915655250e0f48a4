#ifndef SEJFKO_ZIP_ENGINE_API_H
#define SEJFKO_ZIP_ENGINE_API_H
/*
 * The binary interface between the archive component (sejfko_core) and the zip engine library
 * (libzipengine.so / zipengine.dll), loaded at run time. Records keep their fields in the order
 * the interface has always had; pointers have the platform's native width, so offsets differ on
 * 64-bit systems while the values do not. Sizes are 64-bit so that archives over 4 GiB report
 * correctly. Every record is zero-filled by its producer before the fields are set. A flag is -1
 * for true and 0 for false.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZIP_ENGINE_VERSION 173

/* Action codes of the callback record. */
enum {
    zacTick = 0,       /* keep-alive */
    zacItem = 1,       /* a new file begins: Text = name, Size = its size */
    zacProgress = 2,   /* Size = bytes processed since the last report */
    zacEndOfBatch = 3, /* the batch is done */
    zacMessage = 4,    /* ErrorCode and Text: a message (per-file problems, fatal errors) */
    zacCount = 5,      /* Size = a further total (a count) */
    zacSize = 6        /* Size = the bytes the batch will process */
};

/* Error codes of zacMessage (low byte; the component keeps ErrorCode & 0xFF). A skipped file
 * (vanished, unreadable, locked, not a regular file) is reported with zecSkipped and the batch
 * goes on; the others are fatal: the archive is not written. */
enum {
    zecSkipped = 1,     /* one file could not be read and was left out; Text names it */
    zecWrite = 2,       /* the archive could not be written */
    zecStopped = 3,     /* the callback answered -1 */
    zecBadCommand = 4,  /* the command record is unusable */
    zecNothingToDo = 5, /* no file matched */
    zecEventError = 9   /* an error inside the caller's event handler */
};

typedef struct TZipCallbackRecord {
    intptr_t Handle; /* window handle of the command */
    void* Caller;    /* the command's Caller, returned unchanged */
    int32_t Version; /* ZIP_ENGINE_VERSION */
    int32_t IsOperationZip;
    int32_t ActionCode; /* low byte used */
    int32_t ErrorCode;
    uint64_t Size;
    char Text[512]; /* zero-terminated, cut to fit */
    /* The whole zero-terminated text, uncut (Text may be cut to fit); null when there is no text
     * or the engine does not fill it. Valid during the callback only. */
    const char* FullText;
} TZipCallbackRecord;

/* Returns -1 to stop the batch, 0 to go on. Called on the thread that called ZipEngineExec. */
typedef int32_t (*TZipCallback)(TZipCallbackRecord* record);

typedef struct TZipSpec {
    const char* Spec; /* file or pattern (last component may hold * and ?) */
    intptr_t Reserved1[2];
    const char* Password; /* null when none */
    int32_t Encrypt;      /* flag */
    uint16_t Recurse;     /* 0xFFFF: take in all subdirectories of the pattern's directory */
    uint16_t Literal;     /* non-zero: Spec is one exact path, never a pattern; when it names
                             nothing, it is reported as skipped (zecSkipped) */
    int32_t AsLink;       /* non-zero with Literal: a symlink there is stored as the link itself
                             (its target text, never followed), as links met in a walk are */
    int32_t Reserved3[2];
    const char* RootDir; /* null, or the directory the stored names are relative to */
    uint8_t Reserved4[64];
} TZipSpec;

typedef struct TZipCommand {
    intptr_t Handle; /* 0 when unattended */
    void* Caller;    /* returned in every callback record */
    int32_t Version; /* ZIP_ENGINE_VERSION */
    TZipCallback Callback;
    int32_t Trace;             /* flag */
    const char* Password;      /* null when empty */
    const char* StoreSuffixes; /* ".gif:.png:..." stored without compression; null when empty */
    int32_t Encrypt;           /* flag */
    int32_t System;            /* flag: include hidden (dot) and system files */
    int32_t Volume;            /* flag */
    int32_t Extra;             /* 0 */
    int32_t NoDirEntries;      /* -1: no entries for directories themselves */
    int32_t Date;              /* flag: only files newer than FromDate */
    int32_t Verbose;           /* flag */
    int32_t Quiet;             /* -1 */
    int32_t Level;             /* 0 stores, 1..9 deflate */
    int32_t ComprSpecial;      /* 0 */
    int32_t Krypt;             /* 0 */
    int32_t JunkDir;           /* -1: store names without their directories */
    uint16_t Recurse;          /* 0xFFFF: recurse into subdirectories */
    uint16_t Grow;             /* 0 */
    int32_t Force;             /* 0 when safe mode is asked for, else -1 */
    int32_t ForceDos;          /* flag */
    int32_t Move;              /* flag */
    int32_t DeleteEntries;     /* 0 */
    int32_t Update;            /* flag */
    int32_t Freshen;           /* flag */
    int32_t JunkSfx;           /* 0 */
    int32_t LatestTime;        /* flag */
    char FromDate[8];          /* "mm dd yy", no terminator */
    int32_t ArgCount;          /* number of TZipSpec records */
    const char* ZipFileName;   /* the archive to write */
    const char* TempDir;       /* null when empty */
    const char* Comment;       /* null when empty */
    uint16_t ArchiveOnly;
    uint16_t ResetArchive;
    TZipSpec* Specs;
    int32_t Reserved1; /* 0 */
    int32_t ExcludeCount;
    const char** Excludes; /* ExcludeCount zero-terminated patterns; null when none */
    intptr_t Streams[8];   /* 0 for an add from files */
    int32_t HowToDelete;   /* -1: allow undo */
    uint16_t CodePage;     /* 2: OEM */
    uint8_t Reserved2[18];
    int32_t Fixed; /* 7 */
} TZipCommand;

#if defined(_WIN32)
#define ZIP_ENGINE_EXPORT __declspec(dllexport)
#else
#define ZIP_ENGINE_EXPORT __attribute__((visibility("default")))
#endif

/* Writes the archive named by the command. Returns the number of files added (0 or more), or a
 * negative value for a fatal failure. Blocks until the batch is done.
 * Callbacks: zacTick every 256 entries (specs and directory entries) while the files are being
 * found (a -1 answer stops the walk too), zacSize once, then per file in archive order zacItem
 * (Text = the file's path as found, Size = its size), zacProgress reports adding up to that size,
 * and zacMessage with zecSkipped (Text = the path) when the file could not be read (it is then not
 * in the archive); zacEndOfBatch last, after the archive is complete. A -1 answer to any callback,
 * zacEndOfBatch included, stops: no further callback, the archive is deleted, the result is
 * negative. When no file matches and no literal name was missing, the result is 0 and no archive is
 * written (a file of that name is left as it was). On a fatal failure a zacMessage (zecWrite,
 * zecBadCommand) comes first and the partial archive is deleted. */
typedef int32_t (*TZipEngineExec)(TZipCommand* command);
typedef int32_t (*TZipEngineVersion)(void);

#ifdef SEJFKO_BUILDING_ZIP_ENGINE
ZIP_ENGINE_EXPORT int32_t ZipEngineExec(TZipCommand* command);
ZIP_ENGINE_EXPORT int32_t GetZipEngineVersion(void);
ZIP_ENGINE_EXPORT int32_t GetZipEnginePrivVersion(void);
#endif

#ifdef __cplusplus
}
#endif

#endif
