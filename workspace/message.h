// A message the shell's models ask their window to show in a message box.
#ifndef KELDRUN_WORKSPACE_MESSAGE_H_
#define KELDRUN_WORKSPACE_MESSAGE_H_

#include <string>

namespace keldrun {

enum class MessageKind { None, Error, Warning, Information };

struct ShellMessage {
  MessageKind kind = MessageKind::None;
  std::string text;

  bool empty() const { return kind == MessageKind::None; }
  static ShellMessage error(const std::string& t) { return {MessageKind::Error, t}; }
  static ShellMessage warning(const std::string& t) { return {MessageKind::Warning, t}; }
  static ShellMessage information(const std::string& t) { return {MessageKind::Information, t}; }
};

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_MESSAGE_H_
