#!/usr/bin/env python3
# Recomputes the row counts and SHA-256 digests of a purge archive from its rows, with nothing but
# Python's standard library, and compares them with what its table `tablas` says. The canonical
# row text is the one described at the head of src/purge/archivo_canonico.h.
#
#   scripts/huella_archivo.py ARCHIVO.sqlite
#
# Prints one line per table; exits 1 when a table does not match, 2 when the file cannot be read.
import datetime
import hashlib
import re
import sqlite3
import sys
from decimal import Decimal


def clase(tipo):
    t = tipo.strip().upper()
    if any(x in t for x in ('CHAR', 'CLOB', 'TEXT', 'STRING', 'BLOB', 'BINARY', 'IMAGE', 'XML',
                            'UNIQUEIDENTIFIER')) or not t:
        return 'otra'
    if 'DATE' in t or 'TIME' in t:
        return 'fecha'
    if 'INT' in t or t == 'BIT' or any(x in t for x in ('BOOL', 'REAL', 'FLOA', 'DOUB', 'NUM', 'DEC', 'MONEY')):
        return 'numero'
    return 'otra'


def numero(v):
    if isinstance(v, int):
        return str(v)
    if v != v:
        return 'nan'
    if v in (float('inf'), float('-inf')):
        return 'inf' if v > 0 else '-inf'
    if v == int(v) and abs(v) < 2 ** 63:
        return str(int(v))
    return format(Decimal(repr(v)), 'f')


NUMERO = re.compile(r'^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$', re.ASCII)
FECHA = re.compile(r'^(?:(\d{4})-(\d{2})-(\d{2})|(\d{1,2})/(\d{1,2})/(\d{4}))'
                   r'(?:[ T](\d{2}):(\d{2})(?::(\d{2})(?:\.(\d+))?)?)?$', re.ASCII)
HORA = re.compile(r'^(\d{2}):(\d{2})(?::(\d{2})(?:\.(\d+))?)?$', re.ASCII)


def numero_de_texto(t):
    s = t.strip(' \t\r\n')
    if not NUMERO.match(s):
        return None
    if '.' not in s and 'e' not in s.lower():
        v = int(s)
        if -2 ** 63 <= v < 2 ** 63:
            return str(v)
    v = float(s)
    return None if v != v or v in (float('inf'), float('-inf')) else numero(v)


def hora(h, m, s, fraccion):
    h, m, s = int(h), int(m), int(s or 0)
    ms = int((fraccion or '0')[:3].ljust(3, '0'))
    if h > 23 or m > 59 or s > 59:
        return None
    return (h, m, s, ms)


def texto_de_hora(h, m, s, ms):
    return '%02d:%02d:%02d' % (h, m, s) + ('.%03d' % ms if ms else '')


def fecha_de_texto(t):
    m = FECHA.match(t)
    if not m:
        m = HORA.match(t)
        if not m:
            return None
        x = hora(*m.groups())
        return texto_de_hora(*x) if x else None
    a, mes, d = (m.group(1), m.group(2), m.group(3)) if m.group(1) else (m.group(6), m.group(5), m.group(4))
    try:
        datetime.date(int(a), int(mes), int(d))
    except ValueError:
        return None
    r = '%04d-%02d-%02d' % (int(a), int(mes), int(d))
    if m.group(7) is not None:
        x = hora(m.group(7), m.group(8), m.group(9), m.group(10))
        if x is None:
            return None
        if x != (0, 0, 0, 0):
            r += ' ' + texto_de_hora(*x)
    return r


def campo(c, v):
    if v is None:
        return 'N'
    if isinstance(v, (int, float)):
        return '#' + numero(v)
    if isinstance(v, bytes):
        return 'x' + v.hex()
    if c == 'numero':
        n = numero_de_texto(v)
        if n is not None:
            return '#' + n
    if c == 'fecha':
        f = fecha_de_texto(v)
        if f is not None:
            return 'D' + f
    return "'" + v.replace('\\', '\\\\').replace('\t', '\\t').replace('\n', '\\n').replace('\r', '\\r')


def main():
    if len(sys.argv) != 2:
        print('uso: huella_archivo.py ARCHIVO', file=sys.stderr)
        return 2
    try:
        db = sqlite3.connect('file:%s?mode=ro' % sys.argv[1], uri=True)
        tablas = db.execute('SELECT nombre, filas, sha256 FROM tablas ORDER BY nombre').fetchall()
    except sqlite3.Error as e:
        print('%s no es un archivo de depuración: %s' % (sys.argv[1], e), file=sys.stderr)
        return 2
    distintas = 0
    for nombre, filas, sha in tablas:
        clases = [clase(t) for (t,) in
                  db.execute('SELECT tipo FROM columnas WHERE tabla = ? ORDER BY posicion', (nombre,))]
        h = hashlib.sha256()
        n = 0
        for fila in db.execute('SELECT * FROM "%s" ORDER BY rowid' % nombre.replace('"', '""')):
            h.update(('\t'.join(campo(c, v) for c, v in zip(clases, fila)) + '\n').encode('utf-8'))
            n += 1
        if n == filas and h.hexdigest() == sha:
            print('%s: %d filas, huella correcta' % (nombre, n))
        else:
            distintas += 1
            print('%s: DISTINTA: guardadas %d filas y %s; calculadas %d filas y %s' %
                  (nombre, filas, sha, n, h.hexdigest()))
    return 1 if distintas else 0


if __name__ == '__main__':
    sys.exit(main())
