#pragma once
// Forward declarations of the classes in platform/system/:
// The system services: files, folders, clock, processes.

class TBufferedFileStream;
class TFileStream;

namespace platform {
class FileLock;
class Process;
class System;
} // namespace platform
