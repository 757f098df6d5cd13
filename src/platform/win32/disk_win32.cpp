#include "platform/disk.h"
#include "platform/win32/windows_include.h"

// After windows.h, whose types it uses.
#include <winioctl.h>

namespace platform {

unsigned UsableProcessors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) {
    return 1;
  }
  unsigned cpus = 0;
  for (; process != 0; process &= process - 1) ++cpus;
  return cpus == 0 ? 1 : cpus;
}

// The seek penalty is all Windows tells here; a hypervisor's disk counts as
// what it says it is.
DiskKind CurrentFolderDisk() {
  wchar_t volume[MAX_PATH];
  if (!::GetVolumePathNameW(L".", volume, MAX_PATH)) return DiskKind::kOther;
  // "C:\" names the volume as "\\.\C:"; a volume without a drive letter
  // (a folder mount, a network share) counts as unknown.
  if (volume[0] == L'\0' || volume[1] != L':') return DiskKind::kOther;
  const wchar_t device[] = {L'\\', L'\\', L'.', L'\\', volume[0], L':', L'\0'};
  const HANDLE handle =
      ::CreateFileW(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return DiskKind::kOther;
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageDeviceSeekPenaltyProperty;
  query.QueryType = PropertyStandardQuery;
  DEVICE_SEEK_PENALTY_DESCRIPTOR penalty = {};
  DWORD returned = 0;
  const BOOL asked = ::DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY,
                                       &query, sizeof query, &penalty,
                                       sizeof penalty, &returned, nullptr);
  ::CloseHandle(handle);
  return asked && returned >= sizeof penalty && penalty.IncursSeekPenalty
             ? DiskKind::kSpinning
             : DiskKind::kOther;
}

}  // namespace platform
