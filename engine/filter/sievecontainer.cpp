// The compiled-script container: magic, CRC-16 checksum, version, length
// and the root command list's record.
#include <string.h>

#include "filter/sieverecord.h"
#include "filter/sievescript.h"
#include "foundation/crc16.h"
#include "foundation/errorroad.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {

const char kMagic[12] = {'T', 'E', 'L', 'S', 'O', 'R', '_', 'S', 'I', 'E', 'V', 'E'};
const WORD kVersionWritten = SIEVE_RECORD_VERSION;
const WORD kVersion5 = SIEVE_RECORD_VERSION_5;
const WORD kVersionOld = 4;
const ULONG kChecksumPiece = 4096;

// The CRC-16 of count bytes from the stream's position, read in pieces;
// the stream's end also ends it.
HRESULT Checksum(IStream* stream, DWORD count, WORD* crc) {
  BYTE piece[kChecksumPiece];
  WORD sum = 0;
  while (count > 0) {
    ULONG want = count < kChecksumPiece ? count : kChecksumPiece;
    ULONG got = 0;
    HRESULT hr = stream->Read(piece, want, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) break;
    if (got > want) got = want;
    for (ULONG i = 0; i < got; ++i)
      sum = static_cast<WORD>(g_awCrc16Table[((sum >> 8) ^ piece[i]) & 0xFF] ^ (sum << 8));
    count -= got;
  }
  *crc = sum;
  return S_OK;
}

}  // namespace

HRESULT CSieveScript::Serialize(IStream* stream, int store) {
  if (stream == nullptr) return E_POINTER;
  BYTE field[4];
  HRESULT hr;
  if (store) {
    ULONGLONG start, lengthField, end;
    if ((hr = WriteField(stream, kMagic, sizeof kMagic)) != S_OK) return hr;
    if ((hr = StreamPosition(stream, &start)) != S_OK) return hr;
    StoreU16(field, 0);
    StoreU16(field + 2, kVersionWritten);
    if ((hr = WriteField(stream, field, 4)) != S_OK) return hr;
    if ((hr = StreamPosition(stream, &lengthField)) != S_OK) return hr;
    StoreU32(field, 0);
    if ((hr = WriteField(stream, field, 4)) != S_OK) return hr;
    CSharedObjPtr<CExprTreeNode> root = m_pRoot;
    if (root == nullptr) {
      hr = ResultOf([&] { root = new CListCommands; });
      if (hr != S_OK) return hr;
    }
    if ((hr = root->Serialize(stream, 1)) != S_OK) return hr;
    if ((hr = StreamPosition(stream, &end)) != S_OK) return hr;
    DWORD length = static_cast<DWORD>(end - start);
    StoreU32(field, length);
    if ((hr = StreamSeekTo(stream, lengthField)) != S_OK) return hr;
    if ((hr = WriteField(stream, field, 4)) != S_OK) return hr;
    WORD crc = 0;
    if ((hr = StreamSeekTo(stream, start + 2)) != S_OK) return hr;
    if ((hr = Checksum(stream, length - 2, &crc)) != S_OK) return hr;
    StoreU16(field, crc);
    if ((hr = StreamSeekTo(stream, start)) != S_OK) return hr;
    if ((hr = WriteField(stream, field, 2)) != S_OK) return hr;
    return StreamSeekTo(stream, end);
  }

  char magic[sizeof kMagic];
  hr = ReadField(stream, magic, sizeof magic, E_SIEVE_BAD_MAGIC);
  if (hr != S_OK) return hr;
  if (memcmp(magic, kMagic, sizeof kMagic) != 0) return E_SIEVE_BAD_MAGIC;
  ULONGLONG start, rootRecord;
  if ((hr = StreamPosition(stream, &start)) != S_OK) return hr;
  if ((hr = ReadField(stream, field, 2, E_FAIL)) != S_OK) return hr;
  WORD stored = LoadU16(field);
  if ((hr = ReadField(stream, field, 2, E_RECORD_VERSION)) != S_OK) return hr;
  WORD version = LoadU16(field);
  if (version != kVersionWritten && version != kVersion5 && version != kVersionOld) return E_RECORD_VERSION;
  if ((hr = ReadField(stream, field, 4, E_FAIL)) != S_OK) return hr;
  DWORD length = LoadU32(field);
  if ((hr = StreamPosition(stream, &rootRecord)) != S_OK) return hr;
  WORD crc = 0;
  if ((hr = StreamSeekTo(stream, start + 2)) != S_OK) return hr;
  if ((hr = Checksum(stream, length - 2, &crc)) != S_OK) return hr;
  if (crc != stored) return E_SIEVE_BAD_CHECKSUM;
  // The root is always a command list: its type code is not read.
  if ((hr = StreamSeekTo(stream, rootRecord + 2)) != S_OK) return hr;

  Empty();
  CSharedObjPtr<CExprTreeNode> root;
  hr = ResultOf([&] { root = new CListCommands; });
  if (hr != S_OK) return hr;
  // Version 4 differs from 5 in the container only.
  hr = LoadNodeRecord(*root, stream, version == kVersionWritten ? kVersionWritten : kVersion5);
  // A tree that did not load whole is not kept.
  if (hr == S_OK) m_pRoot = root;
  return hr;
}

}  // namespace telsor
