#pragma once
// Forward declarations of the classes in platform/runtime/:
// Exceptions, streams and the memory they use.

class Exception;
class TLimitStream;
class TMemoryBlockAllocator;
class TMemoryStream;
class TStream;
struct TSystemTime;
