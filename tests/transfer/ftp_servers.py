"""Real FTP servers on 127.0.0.1 for the integration tests.

    ftp_servers.py pyftpdlib ROOT USER PASSWORD [LOG [CERTIFICATE]]
    ftp_servers.py vsftpd CONFIG

With LOG, pyftpdlib appends every command it receives (the verb only) to that file; with
CERTIFICATE (a PEM file holding the certificate and its key) it serves explicit FTPS and
demands TLS on the control and on every data connection.

Binds a free port, prints it on one line, then serves until its standard input closes (the
test ended or died), so that no server outlives its test. vsftpd runs in its inetd mode, one
process per accepted control connection.
"""

import os
import socket
import subprocess
import sys
import threading


def exit_when_stdin_closes():
    sys.stdin.buffer.read()
    os._exit(0)


def serve_pyftpdlib(root, user, password, log=None, certificate=None):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
    import logging

    logging.disable(logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmw")
    base = FTPHandler
    if certificate:
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler

    class Handler(base):
        def pre_process_command(self, line, cmd, arg):
            if log:
                with open(log, "a") as out:
                    out.write(cmd + "\n")
            return super().pre_process_command(line, cmd, arg)

    handler = Handler
    if certificate:
        handler.certfile = certificate
        handler.tls_control_required = True
        handler.tls_data_required = True
    handler.authorizer = authorizer
    handler.permit_foreign_addresses = False
    server = FTPServer(("127.0.0.1", 0), handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever()


def serve_vsftpd(config):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        connection, _ = listener.accept()
        subprocess.Popen(["/usr/sbin/vsftpd", config], stdin=connection.fileno(),
                         stdout=connection.fileno(), stderr=subprocess.DEVNULL,
                         close_fds=True)
        connection.close()


def main():
    threading.Thread(target=exit_when_stdin_closes, daemon=True).start()
    if sys.argv[1] == "pyftpdlib":
        serve_pyftpdlib(*sys.argv[2:7])
    else:
        serve_vsftpd(sys.argv[2])


if __name__ == "__main__":
    main()
