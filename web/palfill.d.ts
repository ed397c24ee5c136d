/** How a conversion ended; 'finished' is the only success (written from palfill.h). */
export type Result =/* palfill.h: result names */
  | `unknown_result_${number}`;

/** Every result of the library, by its value. */
export declare const RESULTS: readonly Result[];

/** The library's version, such as "1.4.0". */
export declare const version: string;

/**
 * Gives `png` its palette from `clut` (a CLUT file's bytes) or, without one,
 * from the 128 default colours. `bytes` holds what the palfill command leaves
 * in its output file for the same input: the whole image, the chunks before
 * the damage, or nothing. Throws a TypeError, before anything else, for an
 * argument that is not a Uint8Array (from any realm) or whose buffer is
 * detached.
 */
export declare function convert(png: Uint8Array, clut?: Uint8Array | null): {
  result: Result;
  bytes: Uint8Array;
};

/**
 * The CRC-32 of `bytes`, as zip and PNG files store it.
 * @deprecated Only the page's zip needs it; it goes in the next major version.
 */
export declare function crc32(bytes: Uint8Array): number;
