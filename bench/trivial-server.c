/* The floor for the cost benchmark: the least a server can do per connection.
 * Accepts on 127.0.0.1:PORT, reads once, writes a fixed answer (a 200 status
 * line, a length and the bytes of FILE, read once at start), closes.
 *   trivial-server PORT FILE
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: trivial-server PORT FILE\n");
        return 2;
    }
    FILE *page = fopen(argv[2], "rb");
    if (!page) {
        perror(argv[2]);
        return 1;
    }
    static char body[1 << 20], answer[(1 << 20) + 256];
    size_t nBody = fread(body, 1, sizeof body, page);
    fclose(page);
    int nHead = snprintf(answer, 256,
                         "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: %zu\r\n\r\n",
                         nBody);
    memcpy(answer + nHead, body, nBody);
    size_t nAnswer = (size_t)nHead + nBody;

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in address = {.sin_family = AF_INET,
                                  .sin_port = htons((unsigned short)atoi(argv[1])),
                                  .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
    if (listener < 0 || bind(listener, (struct sockaddr *)&address, sizeof address) != 0 ||
        listen(listener, 511) != 0) {
        perror("trivial-server: listen");
        return 1;
    }
    char request[4096];
    for (;;) {
        int client = accept(listener, NULL, NULL);
        if (client < 0)
            continue;
        /* One read holds a client's whole request; the answer fits the socket buffer. */
        if (read(client, request, sizeof request) > 0 && write(client, answer, nAnswer) < 0)
            perror("trivial-server: write");
        close(client);
    }
}
