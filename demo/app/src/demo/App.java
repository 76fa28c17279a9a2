package demo;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;

/** The demo's main application: asks for an update until it runs as version 2. */
public final class App {
    private static final int EXIT_DO_UPDATE = 21;

    public static void main(String[] args) throws IOException {
        String version = readVersion();
        long maxHeapMb = Runtime.getRuntime().maxMemory() / (1024 * 1024);
        System.out.println("[app] version " + version + " running in " + System.getProperty("user.dir")
                + " (max heap " + maxHeapMb + " MB, demo.greeting=" + System.getProperty("demo.greeting") + ")");
        String[] opened = launcherArgs(args);
        if (opened.length > 0) {
            System.out.println("[app] opened with " + opened.length + " argument(s): " + String.join(" | ", opened));
        }
        if (version.equals("1")) {
            System.out.println("[app] version 2 is available: exiting with " + EXIT_DO_UPDATE + " to ask for the update");
            System.exit(EXIT_DO_UPDATE);
        }
        System.out.println("[app] up to date: exiting with 0");
        System.exit(0);
    }

    /** The launcher's arguments exactly as given; args where the launcher set none. */
    static String[] launcherArgs(String[] args) {
        String count = System.getenv("LAUNCHER_ARGC");
        if (count == null) {
            return args;
        }
        String[] exact = new String[Integer.parseInt(count)];
        for (int i = 0; i < exact.length; i++) {
            exact[i] = System.getenv("LAUNCHER_ARG" + (i + 1));
        }
        return exact;
    }

    private static String readVersion() throws IOException {
        try (InputStream in = App.class.getResourceAsStream("/demo/version.txt")) {
            if (in == null) {
                throw new IOException("version.txt is missing from the class path");
            }
            return new String(in.readAllBytes(), StandardCharsets.UTF_8).trim();
        }
    }
}
