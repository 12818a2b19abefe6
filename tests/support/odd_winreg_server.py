#!/usr/bin/python3
# A winreg server of the tests' own, which answers as it is told to,
# wrongly included: Samba cannot be made to. An SMB server (python3-impacket's)
# whose \PIPE\winreg is served here, with a registry of one key, the list:
#
#   odd_winreg_server.py ADDRESS BEHAVIOUR_FILE USER:PASSWORD...
#
# BEHAVIOUR_FILE holds a JSON object, read anew whenever it changes (a test
# writes it before each run). Every member is optional:
#   "list": [names]         the list key's values, in order (null: no list key);
#                           names may hold any UTF-16 unit, lone surrogates too
#   "logonStatus": N        every session setup is answered with the NTSTATUS N
#   "machineFault": N       OpenHKLM is answered with the DCE/RPC fault N
#   "openFault": N          OpenKey likewise
#   "enumFault": [I, N]     EnumValue of index I likewise
#   "setFault": N           SetValue likewise
#   "deleteFault": N        DeleteValue likewise
#   "foreignHandle": true   OpenKey and CreateKey succeed with a handle never
#                           given: calls on it get a context mismatch, as a
#                           real server answers a handle it does not know
#   "dropAtIndex": I        EnumValue of index I closes the SMB connection
#   "stallAtIndex": [I, S]  EnumValue of index I is answered after S seconds
#   "endless": true         EnumValue succeeds at every index ("E<index>")
# Runs until it is killed; it logs to standard error.
import json
import logging
import os
import socket
import struct
import sys
import threading
import time
import uuid

sys.path.insert(0, '/usr/lib/python3/dist-packages')  # Debian's impacket, whatever python3 is first
from impacket import smb3structs, smbserver  # noqa: E402
from impacket.dcerpc.v5.rpcrt import (DCERPCServer, LOG, MSRPC_FAULT, MSRPCRespHeader, PFC_FIRST_FRAG,
                                     PFC_LAST_FRAG)  # noqa: E402
from impacket.ntlm import compute_nthash  # noqa: E402

WINREG = ('338CD001-2244-31F1-AAAA-900038001003', '1.0')
LIST_PATH = 'SOFTWARE\\TALLMERE\\VESKLANE\\VESKDISTRIBUTEDSERVERS'
CONTEXT_MISMATCH = 0x1C00001A
NO_MORE_ITEMS, FILE_NOT_FOUND = 259, 2


class Fault(Exception):
    def __init__(self, code):
        Exception.__init__(self, code)
        self.code = code


class Dropped(Exception):
    pass


class Registry:
    """The one key this server has, and how it is told to behave."""

    def __init__(self, path):
        self.path, self.stamp, self.behaviour, self.names = path, None, {}, None
        self.handles = {}
        self.lock = threading.Lock()

    def refresh(self):
        try:
            stamp = os.stat(self.path).st_mtime_ns
        except OSError:
            return
        if stamp == self.stamp:
            return
        self.stamp = stamp
        with open(self.path, encoding='utf-8') as f:
            self.behaviour = json.load(f)
        self.names = self.behaviour.get('list')
        if self.names is not None:
            self.names = list(self.names)

    def fault(self, name):
        code = self.behaviour.get(name)
        if code is not None:
            raise Fault(code)

    def newHandle(self, kind):
        handle = b'\0\0\0\0' + uuid.uuid4().bytes
        self.handles[handle] = kind
        return handle

    def kindOf(self, handle):
        if handle not in self.handles:
            raise Fault(CONTEXT_MISMATCH)
        return self.handles[handle]


CONNECTIONS = []  # the SMB connections' sockets, for a drop


def utf16(name):
    return name.encode('utf-16le', 'surrogatepass')


def stringAt(data, at):
    """An RPC_UNICODE_STRING's text from a request, and where the request goes on."""
    length, size, referent = struct.unpack_from('<HHI', data, at)
    at += 8
    if not referent:
        return '', at
    _, offset, count = struct.unpack_from('<III', data, at)
    at += 12
    text = data[at:at + 2 * count].decode('utf-16le', 'surrogatepass').rstrip('\0')
    at += 2 * count
    return text, at + (4 - at % 4) % 4


class Pipe(DCERPCServer):
    """One client's \\PIPE\\winreg; DCERPCServer's framing, a thread each."""

    def __init__(self, client, registry):
        threading.Thread.__init__(self, daemon=True)
        self._listenUUIDS, self._boundUUID, self._callid = {}, b'', 1
        self._max_frag, self._max_xmit_size = None, 4280
        self._DCERPCServer__log = LOG
        self._clientSock, self.registry = client, registry
        self.addCallbacks(WINREG, '\\PIPE\\winreg', {
            2: self.openMachine, 5: self.closeKey, 6: self.createKey, 8: self.deleteValue,
            10: self.enumValue, 15: self.openKey, 22: self.setValue})

    def run(self):
        try:
            while True:
                data = self.recv()
                if data is None:
                    break
                answer = self.processRequest(data)
                if answer is not None:
                    self.send(answer)
        except Exception as e:  # a dropped connection, or a client gone
            LOG.info('pipe ends: %r' % e)
        self._clientSock.close()

    def send(self, answer):
        """A reply in fragments that each carry their own length, as the
        client's 4280 bytes a fragment allow (DCERPCServer gives each the
        length of the whole)."""
        body = answer['pduData']
        room = 4280 - 24
        pieces = [body[at:at + room] for at in range(0, len(body), room)] or [b'']
        for n, piece in enumerate(pieces):
            flags = (PFC_FIRST_FRAG if n == 0 else 0) | (PFC_LAST_FRAG if n == len(pieces) - 1 else 0)
            header = struct.pack('<BBBB4sHHI', 5, 0, answer['type'], flags, b'\x10\0\0\0', 24 + len(piece), 0,
                                 answer['call_id'])
            self._clientSock.sendall(header + struct.pack('<IHBB', len(body), 0, 0, 0) + piece)

    def processRequest(self, data):
        try:
            with self.registry.lock:
                return DCERPCServer.processRequest(self, data)
        except Fault as fault:
            response = MSRPCRespHeader(data)
            response['type'] = MSRPC_FAULT
            response['alloc_hint'] = 0
            response['pduData'] = struct.pack('<LL', fault.code, 0)
            response['frag_len'] = len(response)
            return response

    def openMachine(self, data):
        self.registry.refresh()
        self.registry.fault('machineFault')
        return self.registry.newHandle('machine') + struct.pack('<I', 0)

    def openKey(self, data):
        registry = self.registry
        registry.kindOf(data[:20])
        path, _ = stringAt(data, 20)
        registry.fault('openFault')
        if registry.behaviour.get('foreignHandle'):
            return b'\0\0\0\0' + uuid.uuid4().bytes + struct.pack('<I', 0)
        if path.upper() != LIST_PATH or registry.names is None:
            return b'\0' * 20 + struct.pack('<I', FILE_NOT_FOUND)
        return registry.newHandle('list') + struct.pack('<I', 0)

    def createKey(self, data):
        registry = self.registry
        registry.kindOf(data[:20])
        path, _ = stringAt(data, 20)
        if registry.behaviour.get('foreignHandle'):
            return b'\0\0\0\0' + uuid.uuid4().bytes + struct.pack('<II', 0x20000, 1) + struct.pack('<I', 0)
        if path.upper() != LIST_PATH:
            return b'\0' * 20 + struct.pack('<III', 0x20000, 0, 5)
        disposition = 2 if registry.names is not None else 1
        if registry.names is None:
            registry.names = []
        return registry.newHandle('list') + struct.pack('<II', 0x20000, disposition) + struct.pack('<I', 0)

    def closeKey(self, data):
        self.registry.kindOf(data[:20])
        del self.registry.handles[data[:20]]
        return b'\0' * 20 + struct.pack('<I', 0)

    def listHandle(self, data):
        if self.registry.kindOf(data[:20]) != 'list':
            raise Fault(CONTEXT_MISMATCH)

    def setValue(self, data):
        self.listHandle(data)
        name, _ = stringAt(data, 20)
        self.registry.fault('setFault')
        names = self.registry.names
        if not any(n.upper() == name.upper() for n in names):
            names.append(name)
        return struct.pack('<I', 0)

    def deleteValue(self, data):
        self.listHandle(data)
        name, _ = stringAt(data, 20)
        self.registry.fault('deleteFault')
        names = self.registry.names
        for at, n in enumerate(names):
            if n.upper() == name.upper():
                del names[at]
                return struct.pack('<I', 0)
        return struct.pack('<I', FILE_NOT_FOUND)

    def enumValue(self, data):
        self.listHandle(data)
        index = struct.unpack_from('<I', data, 20)[0]
        behaviour = self.registry.behaviour
        if behaviour.get('dropAtIndex') == index:
            for connection in CONNECTIONS:
                try:
                    connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
            raise Dropped()
        stall = behaviour.get('stallAtIndex')
        if stall and stall[0] == index:
            self.registry.lock.release()  # the other pipes go on meanwhile
            try:
                time.sleep(stall[1])
            finally:
                self.registry.lock.acquire()
        fault = behaviour.get('enumFault')
        if fault and fault[0] == index:
            raise Fault(fault[1])
        names = self.registry.names
        if behaviour.get('endless'):
            name = 'E%d' % index
        elif index >= len(names):
            return struct.pack('<HHI', 0, 0, 0) + struct.pack('<II', 0x20004, 0) + struct.pack('<III', 0, 0, 0) + \
                struct.pack('<I', NO_MORE_ITEMS)
        else:
            name = names[index]
        text = utf16(name) + b'\0\0'
        units = len(text) // 2
        out = struct.pack('<HHI', len(text) & 0xFFFF, len(text) & 0xFFFF, 0x20000)
        out += struct.pack('<III', units, 0, units) + text
        out += b'\0' * ((4 - len(out) % 4) % 4)
        return out + struct.pack('<II', 0x20004, 1) + struct.pack('<III', 0, 0, 0) + struct.pack('<I', 0)


class MessagePipe(socket.socket):
    """The SMB server's end of a pipe, whose reads never cross the end of a
    DCE/RPC fragment, as a named pipe in message mode reads: impacket reads
    it as a byte stream, and a reply of several fragments then reaches the
    client torn."""

    left = 0  # what is still to come of the fragment being read

    def recv(self, size, *flags):
        if self.left == 0:
            header = b''
            while len(header) < 16:
                more = socket.socket.recv(self, 16 - len(header))
                if not more:
                    return header
                header += more
            self.left = struct.unpack_from('<H', header, 8)[0] - 16
            if size <= 16:  # the header alone was asked for
                return header
            return header + self.recv(size - 16)
        data = socket.socket.recv(self, min(size, self.left))
        self.left -= len(data)
        return data


def serveWinreg(registry):
    """The pipe's end the SMB server connects to: a thread per opened pipe."""
    listener = socket.socket()
    listener.bind(('127.0.0.1', 0))
    listener.listen(16)

    def accept():
        while True:
            client, _ = listener.accept()
            Pipe(client, registry).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener.getsockname()


def main():
    address, behaviourFile, accounts = sys.argv[1], sys.argv[2], sys.argv[3:]
    logging.basicConfig(level=logging.INFO, stream=sys.stderr, format='%(asctime)s %(message)s')
    registry = Registry(behaviourFile)
    registry.refresh()

    takeRequest = smbserver.SMBSERVER.get_request

    def getRequest(server):
        connection, peer = takeRequest(server)
        CONNECTIONS.append(connection)
        return connection, peer

    smbserver.SMBSERVER.get_request = getRequest
    smbserver.socket = type('MessageSockets', (), {'socket': MessagePipe})  # the pipes' only use of it
    server = smbserver.SimpleSMBServer(listenAddress=address, listenPort=445)
    server.setSMB2Support(True)
    for account in accounts:
        user, password = account.split(':', 1)
        server.addCredential(user, 0, '', compute_nthash(password).hex())
    server.registerNamedPipe('winreg', serveWinreg(registry))

    smb = server._SimpleSMBServer__server  # the hooks are the inner server's
    setup = smb.hookSmb2Command(smb3structs.SMB2_SESSION_SETUP, None)

    def sessionSetup(connId, smbServer, recvPacket):
        registry.refresh()
        status = registry.behaviour.get('logonStatus')
        answer = setup(connId, smbServer, recvPacket)
        if status is None:
            return answer
        return answer[0], answer[1], status

    smb.hookSmb2Command(smb3structs.SMB2_SESSION_SETUP, sessionSetup)
    server.start()


if __name__ == '__main__':
    main()
