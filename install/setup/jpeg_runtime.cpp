// ijl15.dll: the system's JPEG layer (platform/jpeg, on libjpeg-turbo) as a shared library, the runtime
// library an installation copies into the system folder in place of the JPEG library it was written for.
// Everything it exports comes from the layer, linked in whole.
