#include "production/system_words.h"

#include "programming/messages.h"

namespace isp::production {

std::string systemWords(SystemCause cause, int code) {
  switch (cause) {
    case SystemCause::None: return {};
    case SystemCause::Permission: return "нет прав доступа";
    case SystemCause::Busy: return "занято другой программой";
    case SystemCause::Absent: return "нет такого файла, папки или устройства";
    case SystemCause::NotASerialPort: return "это не последовательный порт";
    case SystemCause::NotARegularFile: return "это не обычный файл";
    case SystemCause::UnsafePath:
      return "путь идёт через ссылку или папку, которую может изменить другой пользователь; он не используется";
    case SystemCause::NotYours: return "файл принадлежит другому пользователю и не перезаписан";
    case SystemCause::NoSpace: return "нет места на диске";
    case SystemCause::ReadOnly: return "диск только для чтения";
    case SystemCause::Io: return "ошибка ввода-вывода";
    case SystemCause::Other: break;
  }
  return "ошибка системы " + std::to_string(code);
}

std::string portWords(const PortStatus& s) {
  switch (s.error) {
    case SerialError::None: return {};
    case SerialError::NotFound: return "нет такого устройства";
    case SerialError::NotASerialPort: return systemWords(SystemCause::NotASerialPort, s.code);
    case SerialError::Busy:
      if (s.holder) return "порт занят программой с PID " + std::to_string(s.holder);
      if (s.lock) return "файл блокировки порта не удаётся снять; порт не трогается";
      return "порт занят другой программой";
    case SerialError::AccessDenied:
      if (systemCause(s.code) == SystemCause::UnsafePath) return systemWords(SystemCause::UnsafePath, s.code);
      if (!s.group.empty())
        return "нет прав доступа: пользователь должен быть в группе «" + msg::escapeControls(s.group) +
               "» (затем выйти из системы и войти снова)";
      return "нет прав доступа: открыть порт может только его владелец";
    case SerialError::Disconnected: return "связь с устройством прервана";
    case SerialError::Unplugged: return "адаптер отключён";
    case SerialError::Io: break;
  }
  return s.code ? systemWords(systemCause(s.code), s.code) : "порт не удалось настроить";
}

std::string fileWords(const FileError& e) { return msg::escapeControls(e.path) + ": " + systemWords(e.cause, e.code); }

}  // namespace isp::production
