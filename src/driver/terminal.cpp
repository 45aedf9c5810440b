#include "driver/terminal.hpp"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "driver/cleanup.hpp"

namespace quellpack::driver {

void waitForKeyIfTerminal() {
    if (!::isatty(STDIN_FILENO)) return;
    // The title goes to the terminal itself, never to a redirected stdout.
    static const char kTitle[] = "\033]0;press any key to exit\007";
    const char* tty = ::ttyname(STDIN_FILENO);
    const int fd = tty ? ::open(tty, O_WRONLY | O_NOCTTY | O_CLOEXEC) : -1;
    if (fd >= 0) {
        (void)!::write(fd, kTitle, sizeof kTitle - 1);
        ::close(fd);
    }
    struct termios saved;
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return;
    struct termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // Ctrl+C, a hang-up or a kill during the wait must not leave the
    // user's terminal without echo.
    restoreTerminalOnSignal(&saved);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char key;
    (void)!::read(STDIN_FILENO, &key, 1);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    restoreTerminalOnSignal(nullptr);
}

}  // namespace quellpack::driver
