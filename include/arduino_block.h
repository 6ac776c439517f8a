/* The exported interface of the Arduino user block.
 *
 * A host loads the library and calls these sixteen functions; nothing else is
 * exported.  Records are raw byte buffers owned by the host: the library reads
 * and writes them only at the byte offsets named below.  Value arrays are
 * packed 10-byte x87 extended values, one per input or output. */
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#define ARDUINO_BLOCK_CALL __stdcall
#define ARDUINO_BLOCK_API
#else
#define ARDUINO_BLOCK_CALL
#define ARDUINO_BLOCK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Byte offsets of the two fields of the host's block record that the library
 * uses.  The record is packed, so both are unaligned. */
#define ARDUINO_BLOCK_USERDATA_OFFSET 5571
#define ARDUINO_BLOCK_APPHANDLE_OFFSET 5579

/* TIODescription: counts at 0 and 1, then 41-byte name slots. */
#define ARDUINO_BLOCK_IO_NAME_SIZE 41
#define ARDUINO_BLOCK_IO_INPUT_NAMES 2
#define ARDUINO_BLOCK_IO_OUTPUT_NAMES 2052
#define ARDUINO_BLOCK_IO_DESCRIPTION_SIZE (2052 + 41 * 50)

/* The parameter record: the library writes its leading bytes, in order, with
 * these values and 0 into the 4-byte field at this offset.  The dialog-enable
 * record: -1 into this many 4-byte fields from offset 0 on (0, 4 and 8),
 * then 1 into the byte at this offset.  Every other byte of both records
 * stays as the host supplied it. */
#define ARDUINO_BLOCK_PARAMETER_LEAD_BYTES 0, 1, 0
#define ARDUINO_BLOCK_PARAMETER_FIELD_OFFSET 323
#define ARDUINO_BLOCK_DIALOG_ENABLE_FIELDS 3
#define ARDUINO_BLOCK_DIALOG_ENABLE_BYTE_OFFSET 12

#define ARDUINO_BLOCK_INPUTS 8
#define ARDUINO_BLOCK_OUTPUTS 14
#define ARDUINO_BLOCK_EXTENDED_SIZE 10

/* Errors on Windows.  An export that fails raises a noncontinuable
 * structured exception (RaiseException) with this code and two parameters:
 *   ExceptionInformation[0]  const char*, the error class: "Exception",
 *                            "EConvertError", "UDPSockError" or "ESocketError"
 *   ExceptionInformation[1]  const char*, the message, code page 1252
 * Both texts are zero-terminated and stay valid until the next error, so a
 * handler may read them after unwinding.  The code has the customer bit set
 * (0xE...) and spells "ArD" in its low bytes. */
#define ARDUINO_BLOCK_EXCEPTION_CODE 0xE0417244u
#define ARDUINO_BLOCK_EXCEPTION_PARAMETERS 2

/* The host passes 12 leading bytes by value to SimulateDLL; the block
 * ignores them. */
typedef struct Lead12 {
  uint8_t bytes[12];
} Lead12;

ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL IsUserDLL32(void);
ARDUINO_BLOCK_API const char* ARDUINO_BLOCK_CALL GetDLLName(void);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL InitUserDLL(void* block);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL DisposeUserDLL(void* block);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL GetNumberOfInputsOutputs(void* description);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL GetParameterStruct(void* record);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL GetDialogEnableStruct(void* record, int32_t unused);
ARDUINO_BLOCK_API const char* ARDUINO_BLOCK_CALL SetInputChar(void);
ARDUINO_BLOCK_API const char* ARDUINO_BLOCK_CALL SetOutputChar(void);
ARDUINO_BLOCK_API int32_t ARDUINO_BLOCK_CALL CanSimulateDLL(void* block);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL InitSimulationDLL(void* block, void* inputs,
                                                            void* outputs);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL SimulateDLL(Lead12 lead, void* block, void* inputs,
                                                      void* outputs);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL EndSimulationDLL2(void* block);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL CallParameterDialogDLL(void* block, int32_t unused);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL WriteToFile(uint32_t handle, void* block);
ARDUINO_BLOCK_API void ARDUINO_BLOCK_CALL ReadFromFile(uint32_t handle, void* block);

/* Pointer types for hosts that load the library at run time. */
typedef void(ARDUINO_BLOCK_CALL* IsUserDLL32Fn)(void);
typedef const char*(ARDUINO_BLOCK_CALL* GetDLLNameFn)(void);
typedef void(ARDUINO_BLOCK_CALL* InitUserDLLFn)(void*);
typedef void(ARDUINO_BLOCK_CALL* DisposeUserDLLFn)(void*);
typedef void(ARDUINO_BLOCK_CALL* GetNumberOfInputsOutputsFn)(void*);
typedef void(ARDUINO_BLOCK_CALL* GetParameterStructFn)(void*);
typedef void(ARDUINO_BLOCK_CALL* GetDialogEnableStructFn)(void*, int32_t);
typedef const char*(ARDUINO_BLOCK_CALL* SetInputCharFn)(void);
typedef const char*(ARDUINO_BLOCK_CALL* SetOutputCharFn)(void);
typedef int32_t(ARDUINO_BLOCK_CALL* CanSimulateDLLFn)(void*);
typedef void(ARDUINO_BLOCK_CALL* InitSimulationDLLFn)(void*, void*, void*);
typedef void(ARDUINO_BLOCK_CALL* SimulateDLLFn)(Lead12, void*, void*, void*);
typedef void(ARDUINO_BLOCK_CALL* EndSimulationDLL2Fn)(void*);
typedef void(ARDUINO_BLOCK_CALL* CallParameterDialogDLLFn)(void*, int32_t);
typedef void(ARDUINO_BLOCK_CALL* WriteToFileFn)(uint32_t, void*);
typedef void(ARDUINO_BLOCK_CALL* ReadFromFileFn)(uint32_t, void*);

#ifdef __cplusplus
} /* extern "C" */

#include <exception>
#include <string>
#include <utility>

/* Errors that leave the Linux build as C++ exceptions; what() is the exact
 * message.  The classes are header-only so that a host compiled against this
 * header catches them by type (type identity is by name on this ABI). */
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

/* A text that is not a number where one is needed. */
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

/* A failure of a block's UDP endpoint. */
class UDPSockError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "UDPSockError"; }
};

/* A failure to start or stop the socket layer. */
class ESocketError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "ESocketError"; }
};
#endif /* __cplusplus */
