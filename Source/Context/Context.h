#pragma once

// Identity derivation for readers. A reader carries an eight-byte payload in its product field;
// this library turns it into the identity block and the identifier that the identification
// library puts into a device identity record.
//
// Derivation (deterministic, the same payload always gives the same answers):
//
// - The context buffer is CONTEXT_BUFFER_SIZE (24) bytes: the identity block (8 bytes) followed
//   by the identifier (CONTEXT_ID_SIZE, 16 bytes).
// - The identity block is the payload itself, byte for byte. So a reader's payload is laid out
//   as the record's identity block: four head bytes, the edition code, the model code, one
//   uninterpreted byte and the manufacturer code.
// - The identifier is two 64-bit words written most significant byte first. With P the payload
//   read as a little-endian 64-bit number, word k (k = 0, 1) is Mix(P + (k + 1) * G), where G is
//   0x9E3779B97F4A7C15 and Mix(z) is: z ^= z >> 30; z *= 0xBF58476D1CE4E5B9; z ^= z >> 27;
//   z *= 0x94D049BB133111EB; z ^= z >> 31 (all arithmetic modulo 2^64).
//
// The identifier stays well within the 33 bytes a record can hold as hexadecimal text.

#define CONTEXT_BUFFER_SIZE 24
#define CONTEXT_ID_SIZE 16

#ifdef __cplusplus
extern "C" {
#endif

// (null, null): returns the size of a context buffer. (Payload, Buffer): fills the buffer from
// the eight payload bytes and returns the buffer's size.
__attribute__((visibility("default"))) int CreateContext(const void* Payload, void* Buffer);

// (null, null): returns the identifier's length in bytes. (Buffer, Destination): writes that many
// identifier bytes from a filled buffer to Destination and returns the length.
__attribute__((visibility("default"))) int GetContext(const void* Buffer, void* Destination);

#ifdef __cplusplus
}
#endif
