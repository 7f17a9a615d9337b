/* The least a native-messaging host can do: read one frame from standard input and answer it with
 * a fixed reply. The cold-start baseline for ondrake-native-host: a C program linked against
 * nothing but the C library. */
#include <stdint.h>
#include <string.h>
#include <unistd.h>

static int read_exactly(char *data, size_t size) {
    size_t filled = 0;
    while (filled < size) {
        ssize_t n = read(0, data + filled, size - filled);
        if (n <= 0) return -1;
        filled += (size_t)n;
    }
    return 0;
}

int main(void) {
    static char body[65536];
    unsigned char prefix[4];
    if (read_exactly((char *)prefix, 4) != 0) return 0;
    uint32_t length = (uint32_t)prefix[0] | (uint32_t)prefix[1] << 8 | (uint32_t)prefix[2] << 16 |
                      (uint32_t)prefix[3] << 24;
    if (length == 0 || length > sizeof body || read_exactly(body, length) != 0) return 0;

    static const char reply[] =
        "{\"protocolVersion\":1,\"requestId\":\"r-1\",\"status\":\"rejected\",\"code\":\"UNSUPPORTED_SCHEME\"}";
    char frame[4 + sizeof reply];
    uint32_t reply_length = sizeof reply - 1;
    for (int i = 0; i < 4; ++i) frame[i] = (char)(reply_length >> (8 * i));
    memcpy(frame + 4, reply, reply_length);
    return write(1, frame, 4 + reply_length) == (ssize_t)(4 + reply_length) ? 0 : 1;
}
