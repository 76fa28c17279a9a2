package demo;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;

/** The demo's updater: installs the downloaded application jar, then exits with 0. */
public final class Updater {
    public static void main(String[] args) {
        Path here = Paths.get("").toAbsolutePath();
        Path payload = here.resolve("payload").resolve("app.jar");
        Path installed = here.resolveSibling("lib").resolve("app.jar");
        System.out.println("[updater] running in " + here);
        try {
            Files.copy(payload, installed, StandardCopyOption.REPLACE_EXISTING);
        } catch (IOException e) {
            System.out.println("[updater] could not install " + payload + ": " + e);
            System.exit(3);
        }
        System.out.println("[updater] installed " + installed + ": exiting with 0");
        System.exit(0);
    }
}
