/* cvnWCHalv: the Wavecatch add-in for the Corvane Halvio Series.
 *
 * The module is an in-process automation server. A host loads it with
 * dlopen, asks DllGetClassObject for the class factory of a class
 * identifier and creates objects through it; every member is then reached
 * by dispatch (name or DISPID). Class identifiers and program identifiers:
 *
 *   cvnWCHalv.IWavecatch  {9BF5C679-AD23-42E1-BB7C-6DDB647EE8F4}
 *   cvnWCHalv.CScope      {8FB59CB3-8338-4A34-AC33-AA1D4E309167}
 *   type library          {C51D4196-82C1-4108-97FA-4B526DB8430A}, version 1.0
 *
 * Status codes are those of the automation runtime: 0 success, 1 "false",
 * negative values failures.
 */
#ifndef CVNWCHALV_H
#define CVNWCHALV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CVN_PROGID_IWAVECATCH "cvnWCHalv.IWavecatch"
#define CVN_CLSID_IWAVECATCH "{9BF5C679-AD23-42E1-BB7C-6DDB647EE8F4}"
#define CVN_PROGID_CSCOPE "cvnWCHalv.CScope"
#define CVN_CLSID_CSCOPE "{8FB59CB3-8338-4A34-AC33-AA1D4E309167}"
#define CVN_LIBID "{C51D4196-82C1-4108-97FA-4B526DB8430A}"

/* A 16-byte class identifier in its binary layout (Data1..Data4). */
typedef struct CvnGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
} CvnGuid;

/* *factory receives an owning reference to the class factory (a
 * cvn::automation::IClassFactory*), or NULL with 0x80040111 when the
 * module has no such class. */
int32_t DllGetClassObject(const CvnGuid* clsid, void** factory);
/* 0 when no object and no server lock is alive, 1 otherwise. */
int32_t DllCanUnloadNow(void);
/* Records the module's classes for the current user; 0 on success. */
int32_t DllRegisterServer(void);
/* Removes this module's own entries and nothing else; 0 on success. */
int32_t DllUnregisterServer(void);
/* The module's version text, as the version property gives it. */
const char* cvnModuleVersion(void);
/* The self-registration mark: non-zero when the module registers itself. */
int32_t cvnSelfRegister(void);
/* The type library (a const cvn::automation::TypeLibInfo*): every class,
 * interface and member with its DISPID, types and help text. */
const void* cvnTypeLibrary(void);
/* Progress of waveform transfers, outside the automation interface: while
 * a source's data block is read, callback(context, source keyword, bytes
 * received, bytes in all) is called on the calling thread, at most once per
 * MiB and last with received == total (total 0 while unknown). NULL
 * removes it. The callback must return quickly and must not call into the
 * add-in. */
typedef void (*CvnTransferProgress)(void* context, const char* source, uint64_t received,
                                    uint64_t total);
void cvnSetTransferProgress(CvnTransferProgress callback, void* context);
/* Called from the progress callback when the host's user wants to stop
 * (Ctrl-C): the block being reported fails as soon as the callback
 * returns, and so does every later one at its first report, until
 * cvnSetTransferProgress is called again. The add-in treats it as a failed
 * transfer of that source (its connection is made ready for the next
 * command); GetDataFromInstrument then returns without waiting for the
 * rest of the data. */
void cvnCancelTransfer(void);

#ifdef __cplusplus
}
#endif

#endif
