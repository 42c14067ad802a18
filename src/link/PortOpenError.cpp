#include "link/PortOpenError.h"

#include <cerrno>

#include "link/SerialPort.h"

namespace orderlink {

namespace {

// What the user can do about `error`.
std::string Remedy(const PortOpenError& error, int portNumber) {
  std::string setting = LookUpComDevice(portNumber).userOrigin;
  if (setting.empty()) setting = "设置ORDERLINK_COM" + std::to_string(portNumber);
  switch (error.code) {
    case EACCES:
    case EPERM:
      if (error.group.empty()) return "没有权限，请让管理员授予当前用户访问该设备的权限。";
      return "没有权限，请将当前用户加入" + error.group + "组，然后重新登录。";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "设备不存在，请检查" + setting + "（已连接的USB串口适配器列在/dev/serial/by-id/中）。";
    case EBUSY:
    case EWOULDBLOCK:
      return "串口已被另一个程序占用，请先关闭该程序。";
    case ENOTTY:
      return "不是串口设备，请检查" + setting + "。";
    default:
      return "无法打开串口。";
  }
}

}  // namespace

std::string DescribePortOpenError(const PortOpenError& error, int portNumber) {
  std::string line = error.device;
  line += "（";
  line += error.systemReason;
  line += "）：";
  line += Remedy(error, portNumber);
  return line;
}

}  // namespace orderlink
