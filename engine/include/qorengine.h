// qorengine.h: what a host program includes to spam-test mail with the
// engine library. The library exports four functions under plain names; a
// host loads it and looks them up (or links it directly):
//
//   void* lib = dlopen("libqorengine.so", RTLD_NOW);
//   PFN_QorEngineSpamTestFile test = (PFN_QorEngineSpamTestFile)dlsym(lib, "QorEngineSpamTestFile");
//   PFN_QorEngineUninit uninit = (PFN_QorEngineUninit)dlsym(lib, "QorEngineUninit");
//   int32_t score = 0;
//   SQorCategoryScore categories;
//   SQorError error;
//   uint32_t code = test(0, 0, "/var/qor/data", "/var/qor/tmp", NULL, "/var/spool/msg.eml",
//                        0 /* categories above this score */, 0, &score, &categories, &error);
//   if (code != 0) fprintf(stderr, "%u (%u): %s\n", error.code, error.detail, error.message);
//   else printf("%d %d\n", score, categories.money);   // -1000 clean .. 1000 spam
//   uninit(0);
//   dlclose(lib);
//
// There is no start call: the first spam test in a process creates the one
// engine instance from its data directory (the spam classifier "Qor.bin",
// category classifiers "Qor_33.bin" .. "Qor_38.bin", the script catalogue
// "SieveCatalog.xml") and its temporary directory; later calls share it and
// ignore their directory arguments until QorEngineUninit destroys it. Any
// number of host threads may spam-test at once; QorEngineUninit is called
// only when none is testing.
//
// A result is 0 or the error code, which is also stored in the error record
// (when one is given) with the code of its cause and a NUL-terminated text
// (on success: code and detail 0, the text empty):
//   4  "An unexpected error occured."       anything but an engine exception
//   5  the exception's own text              another engine exception
//   8  "Unable assign message content."     message bytes not taken
//   8  "Unable to parse message."            message cannot be read or parsed
//   9  "Failed to get script list."          script catalogue missing or broken
//   10 "Failed to extract mail features."    / "Failed to classify spam."
//   11 "Failed to initialize database."      data directory unusable
// On failure the score and category records are not written.
//
// Scores run from -1000 (clean) to 1000 (spam); a category entry is
// 2147483647 (QOR_NO_SCORE) when it has no score. A filter script that acts
// on the message decides alone: 1000 when it discarded it (categories -1000
// but 1000 at the script's category), -1000 for any other action
// (categories QOR_NO_SCORE). Otherwise the classifier's value, clamped to
// -1..1, times 1000 and truncated, is the score, and the categories are
// scored only when the score is greater than the threshold.
//
// Records are laid out for 32- and 64-bit hosts alike (sizes checked
// below). On i386 the functions remove their arguments from the stack
// (stdcall), as the appliance's hosts expect; elsewhere they use the
// platform's C convention. Reserved arguments are not read.
#ifndef TELSOR_INCLUDE_QORENGINE_H
#define TELSOR_INCLUDE_QORENGINE_H

#include <stdint.h>

#if defined(__i386__)
#define QORENGINE_CALL __attribute__((stdcall))
#else
#define QORENGINE_CALL
#endif
#define QORENGINE_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define QORENGINE_STATIC_ASSERT(c, m) static_assert(c, m)
extern "C" {
#else
#define QORENGINE_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

#define QOR_NO_SCORE 2147483647

// The error record of one call.
typedef struct SQorError {
  uint32_t code;      // 0 on success
  uint32_t detail;    // the code of the cause, 0 when none
  char message[256];  // always NUL-terminated
} SQorError;

// Category scores, -1000 .. 1000 or QOR_NO_SCORE; the classifiers' category
// numbers: hoax 33, adult 34, money 36, goods 37, health 38.
typedef struct SQorCategoryScore {
  int32_t hoax;
  int32_t adult;
  int32_t money;
  int32_t goods;
  int32_t health;
} SQorCategoryScore;

// Engine version and the update numbers of the data files, 0xFFFFFFFF when
// unknown.
typedef struct SQorVersionInfo {
  uint32_t major;           // 1
  uint32_t minor;           // 1
  uint32_t build;           // 3
  uint32_t scriptUpdate;    // "UpdateNumber" of section "Information" in "QorDat.bin"
  uint32_t spamUpdate;      // "Qor.bin"
  uint32_t hoaxUpdate;      // "Qor_33.bin"
  uint32_t adultUpdate;     // "Qor_34.bin"
  uint32_t moneyUpdate;     // "Qor_36.bin"
  uint32_t goodsUpdate;     // "Qor_37.bin"
  uint32_t healthUpdate;    // "Qor_38.bin"
} SQorVersionInfo;

QORENGINE_STATIC_ASSERT(sizeof(SQorError) == 264, "SQorError is 264 bytes");
QORENGINE_STATIC_ASSERT(sizeof(SQorCategoryScore) == 20, "SQorCategoryScore is 20 bytes");
QORENGINE_STATIC_ASSERT(sizeof(SQorVersionInfo) == 40, "SQorVersionInfo is 40 bytes");

// Spam-tests length bytes of message. score receives the score (not written
// when null); categories (may be null: no category work) the category
// scores; error (may be null) the error record. The same bytes give the
// same code, score and categories here as from a file: a message built
// past the parser's limits (nesting, number of parts) is scored from what
// was parsed.
QORENGINE_EXPORT uint32_t QORENGINE_CALL QorEngineSpamTestMemory(
    uintptr_t reserved1, uintptr_t reserved2, const char* dataDir, const char* tempDir, void* host,
    const void* message, uint32_t length, int32_t threshold, uintptr_t reserved3, int32_t* score,
    SQorCategoryScore* categories, SQorError* error);

// The same for the message in the file at path; the file is read in place and
// never changed or removed. A file that cannot be read gives 8, and so does
// anything that is not a regular file (a directory, a FIFO, a device: at
// once, never waiting on it), with the system's error number as detail.
QORENGINE_EXPORT uint32_t QORENGINE_CALL QorEngineSpamTestFile(
    uintptr_t reserved1, uintptr_t reserved2, const char* dataDir, const char* tempDir, void* host,
    const char* path, int32_t threshold, uintptr_t reserved3, int32_t* score,
    SQorCategoryScore* categories, SQorError* error);

// The version and the update numbers of the files in dataDir; needs no engine
// instance. Missing files give unknown numbers, not errors, and so do
// classifier files that the engine refuses (damaged, not regular files):
// a number is reported only for a file that loads. A null version is not
// written.
QORENGINE_EXPORT uint32_t QORENGINE_CALL QorEngineGetVersion(uintptr_t reserved1, uintptr_t reserved2,
                                                              const char* dataDir, uintptr_t reserved3,
                                                              uintptr_t reserved4, SQorVersionInfo* version,
                                                              SQorError* error);

// Destroys the engine instance; the next spam test creates a new one.
QORENGINE_EXPORT void QORENGINE_CALL QorEngineUninit(uintptr_t reserved);

typedef uint32_t(QORENGINE_CALL* PFN_QorEngineSpamTestMemory)(uintptr_t, uintptr_t, const char*, const char*,
                                                              void*, const void*, uint32_t, int32_t, uintptr_t,
                                                              int32_t*, SQorCategoryScore*, SQorError*);
typedef uint32_t(QORENGINE_CALL* PFN_QorEngineSpamTestFile)(uintptr_t, uintptr_t, const char*, const char*, void*,
                                                            const char*, int32_t, uintptr_t, int32_t*,
                                                            SQorCategoryScore*, SQorError*);
typedef uint32_t(QORENGINE_CALL* PFN_QorEngineGetVersion)(uintptr_t, uintptr_t, const char*, uintptr_t, uintptr_t,
                                                          SQorVersionInfo*, SQorError*);
typedef void(QORENGINE_CALL* PFN_QorEngineUninit)(uintptr_t);

#ifdef __cplusplus
}
#endif

#endif  // TELSOR_INCLUDE_QORENGINE_H
