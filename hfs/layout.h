// The HFS on-disk layout: field offsets of the master directory block, the
// B-tree node descriptor and header record, and the catalog's file, folder
// and thread records, with the signatures of the structures the engine
// finds on a medium. Every part of the program that reads or writes these
// structures names the fields from here. Calls nothing.
#pragma once

#include <cstdint>

namespace verrin {

// Master directory block fields (offsets in the MDB sector).
namespace mdb {
constexpr uint32_t sigWord = 0, crDate = 2, lsMod = 6, atrb = 10, nmFls = 12, vbmSt = 14, allocPtr = 16,
                   nmAlBlks = 18, alBlkSiz = 20, clpSiz = 24, alBlSt = 28, nxtCNID = 30, freeBks = 34, vn = 36,
                   volBkUp = 64, vSeqNum = 68, wrCnt = 70, xtClpSiz = 74, ctClpSiz = 78, nmRtDirs = 82,
                   filCnt = 84, dirCnt = 88, fndrInfo = 92, xtFlSize = 130, xtExtRec = 134, ctFlSize = 146,
                   ctExtRec = 150;
}  // namespace mdb

// Driver descriptor map (block 0 of a partitioned medium) and Apple
// partition map entry fields.
namespace ddm {
constexpr uint32_t sig = 0, blkSize = 2, blkCount = 4;
}  // namespace ddm
namespace pm {
constexpr uint32_t sig = 0, mapBlkCnt = 4, pyPartStart = 8, partBlkCnt = 12, partName = 16, parType = 48;
}  // namespace pm

constexpr uint16_t sigHfs = 0x4244;     // "BD"
constexpr uint16_t sigDdm = 0x4552;     // "ER"
constexpr uint16_t sigPmap = 0x504D;    // "PM"
constexpr uint16_t sigOldMap = 0x5453;  // "TS"

// Node descriptor and header record fields (offsets in the node).
namespace nd {
constexpr uint32_t fLink = 0, bLink = 4, type = 8, height = 9, nRecs = 10;
constexpr uint8_t indexNode = 0, headerNode = 1, mapNode = 2, leafNode = 0xFF;
}  // namespace nd
namespace bth {
constexpr uint32_t depth = 14, root = 16, nRecs = 20, fNode = 24, lNode = 28, nodeSize = 32, keyLen = 34,
                   nNodes = 36, freeNodes = 40;
}  // namespace bth

// Catalog key fields (offsets in the key, from its length byte).
namespace ckr {
constexpr uint32_t keyLen = 0, parId = 2, nodeName = 6;
}  // namespace ckr

// Bytes a record's key takes in a node: the key with its length byte,
// padded to an even length; the record's data (or an index record's child
// number) follows.
constexpr uint32_t paddedKeyBytes(uint8_t keyLength) { return (keyLength + 2u) & ~1u; }

// File record fields (offsets in the record's data).
namespace fil {
constexpr uint32_t flags = 2, usrWds = 4, flNum = 20, lgLen = 26, pyLen = 30, rLgLen = 36, rPyLen = 40, crDat = 44,
                   mdDat = 48, extRec = 74, rExtRec = 86;
constexpr uint32_t recordSize = 102;
constexpr uint8_t locked = 0x01;        // in filFlags: the file may not be changed
constexpr uint8_t threadExists = 0x02;  // in filFlags: the file has a file thread
}  // namespace fil
// Folder record fields.
namespace dir {
constexpr uint32_t flags = 2, val = 4, dirId = 6, crDat = 10, mdDat = 14, usrInfo = 22;
constexpr uint32_t recordSize = 70;
}  // namespace dir
// The Finder's information of a file (at fil::usrWds) or a folder (at
// dir::usrInfo): the Finder flags word sits at the same place in both.
namespace finder {
constexpr uint32_t type = 0, creator = 4;  // of a file
constexpr uint32_t flags = 8;
constexpr uint16_t isInvisible = 0x4000;
}  // namespace finder
// Folder thread record fields.
namespace thd {
constexpr uint32_t parId = 10, cName = 14;
constexpr uint32_t recordSize = 46;
}  // namespace thd

}  // namespace verrin
