/* The least a host can do per message: pass each frame from standard input to the application's
 * socket unchecked, and pass the application's reply frame back to standard output. One
 * connection per message, blocking calls throughout. The throughput baseline for a host session.
 *
 * usage: minimal_relay SOCKET */
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int read_exactly(int fd, char *data, size_t size) {
    size_t filled = 0;
    while (filled < size) {
        ssize_t n = read(fd, data + filled, size - filled);
        if (n <= 0) return -1;
        filled += (size_t)n;
    }
    return 0;
}

static int write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return -1;
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

/* One frame from `fd` into `frame` (prefix included); its whole size, or 0 at the end. */
static size_t read_frame(int fd, char *frame, size_t capacity) {
    if (read_exactly(fd, frame, 4) != 0) return 0;
    const unsigned char *p = (const unsigned char *)frame;
    uint32_t length = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    if (length == 0 || length > capacity - 4 || read_exactly(fd, frame + 4, length) != 0) return 0;
    return 4 + (size_t)length;
}

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    signal(SIGPIPE, SIG_IGN);
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (strlen(argv[1]) >= sizeof address.sun_path) return 2;
    strcpy(address.sun_path, argv[1]);

    static char request[4 + 65536], reply[4 + 65536];
    for (;;) {
        size_t request_size = read_frame(0, request, sizeof request);
        if (request_size == 0) return 0;
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, (struct sockaddr *)&address, sizeof address) != 0) return 1;
        size_t reply_size = 0;
        if (write_all(fd, request, request_size) == 0) reply_size = read_frame(fd, reply, sizeof reply);
        close(fd);
        if (reply_size == 0 || write_all(1, reply, reply_size) != 0) return 1;
    }
}
